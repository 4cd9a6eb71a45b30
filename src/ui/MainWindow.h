#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <vector>

#include "app/PresetTreeModel.h"
#include "app/SettingsController.h"
#include "app/SourceListModel.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;

namespace zelto {
class MainController;
}

namespace zelto::ui {

class DeviceInfoSheet;
class CompareWindow;
class HistoryWindow;
class PresetDiffWindow;
class SyncPreviewDialog;
class PresetTreeView;
class SettingsDialog;
class SourceListView;
class StatusSheet;

// The main window: sources on the left, the grouped presets of the selected
// sources on the right, menus, a toolbar and the sheets. It renders the
// application layer's models and forwards every command to the controller;
// the rules live in src/app.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(MainController& controller, AppUi& ui, QWidget* parent = nullptr);
    ~MainWindow() override;

    SourceListView* sourceView() const { return sourceView_; }
    PresetTreeView* presetView() const { return presetView_; }
    SourceListModel& sourceModel() { return *sourceModel_; }
    PresetTreeModel& presetModel() { return *presetModel_; }
    StatusSheet* statusSheet() const { return statusSheet_; }
    DeviceInfoSheet* deviceInfoSheet() const { return deviceInfoSheet_; }
    SettingsDialog* settingsDialog() const { return settingsDialog_; }
    HistoryWindow* historyWindow() const { return historyWindow_; }
    CompareWindow* compareWindow() const { return compareWindow_; }
    PresetDiffWindow* diffWindow() const { return diffWindow_; }
    SyncPreviewDialog* syncPreviewDialog() const { return syncPreview_; }
    QSplitter* splitter() const { return splitter_; }

    // The context menus, with their items' states set for a click on
    // `clicked` (invalid: the empty area), as they open.
    QMenu* prepareSourceMenu(const QModelIndex& clicked);
    QMenu* preparePresetMenu(const QModelIndex& clicked);

    QAction* rescanAction() const { return rescan_; }
    QAction* syncAllAction() const { return syncAll_; }
    QAction* settingsAction() const { return settings_; }
    QAction* deleteAction() const { return delete_; }
    QAction* quitAction() const { return quit_; }
    QAction* undoAction() const { return undo_; }
    QAction* historyAction() const { return history_; }
    QAction* compareAction() const { return compare_; }
    QAction* comparePresetsAction() const { return comparePresets_; }
    // Context-menu items.
    QAction* infoMenuAction() const { return infoMenu_; }
    QAction* identifyMenuAction() const { return identifyMenu_; }
    QAction* loadMenuAction() const { return loadMenu_; }
    QAction* deleteMenuAction() const { return deleteMenu_; }
    QMenu* copySelectedToMenu() const { return copyToMenu_; }
    QMenu* presetCopyMenu() const { return presetCopyMenu_; }

    // Where the copy jobs of drops and of Copy Selected To go: the
    // controller's copy run, unless replaced (tests look at the jobs).
    using CopyJobsHandler = std::function<void(std::vector<PresetCopyJob>)>;
    void setCopyJobsHandler(CopyJobsHandler handler) { copyJobsHandler_ = std::move(handler); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildActions();
    void buildMenus();
    void buildLayout();
    void applyIcons();
    void restoreWindowState();
    void saveWindowState();

    // The selection step: the presets of the selected sources, grouped,
    // keeping the preset rows that were selected.
    void showSelectedSources();
    void selectFirstSourceIfNone();
    void updateActions();
    void updateStatus();

    std::vector<int> selectedSourceRows() const;
    std::vector<PresetSourcePtr> selectedSources() const;
    std::vector<PresetRow> selectedPresetRows() const;
    // One item per source; the rows are taken when an item is chosen.
    void fillCopyMenu(QMenu* menu, std::function<std::vector<PresetRow>()> rows);
    // A source left the store: nothing here keeps it or its mixer.
    void forgetSource(const PresetSourcePtr& source);
    void focusMoved(QWidget* now);

    void showInfo(const std::vector<PresetSourcePtr>& sources);
    void identify(const std::vector<PresetSourcePtr>& sources);
    void loadPreset(const std::vector<PresetRow>& rows);
    void deletePresets(const std::vector<PresetRow>& rows);
    void copyRows(const std::vector<PresetRow>& rows, const PresetSourcePtr& target);
    void copyPresets(std::vector<PresetCopyJob> jobs);
    void showSettings();
    void showHistory();
    void showCompare();
    // Sync All: first what it will do, when the settings ask for that.
    void syncAll();
    // The two presets chosen in the preset view or the Compare window.
    std::optional<std::pair<Preset, Preset>> chosenPresetPair() const;
    // Restores dragged history versions onto a source.
    void restoreVersions(const std::vector<std::uint64_t>& ids, const DevicePtr& to);
    void showAbout();

    MainController& controller_;
    QMetaObject::Connection focusWatch_;
    AppUi& ui_;
    std::unique_ptr<PresetTreeModel> presetModel_;
    std::unique_ptr<SourceListModel> sourceModel_;
    SettingsController settingsController_;

    QSplitter* splitter_ = nullptr;
    SourceListView* sourceView_ = nullptr;
    PresetTreeView* presetView_ = nullptr;
    QLabel* presetTitle_ = nullptr;
    QLabel* statusText_ = nullptr;
    StatusSheet* statusSheet_ = nullptr;
    DeviceInfoSheet* deviceInfoSheet_ = nullptr;
    SettingsDialog* settingsDialog_ = nullptr;
    HistoryWindow* historyWindow_ = nullptr;
    CompareWindow* compareWindow_ = nullptr;
    PresetDiffWindow* diffWindow_ = nullptr;
    SyncPreviewDialog* syncPreview_ = nullptr;

    QAction* rescan_ = nullptr;
    QAction* syncAll_ = nullptr;
    QAction* settings_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* about_ = nullptr;
    QAction* delete_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* history_ = nullptr;
    QAction* compare_ = nullptr;
    QAction* comparePresets_ = nullptr;
    QAction* load_ = nullptr;
    QAction* info_ = nullptr;
    QAction* identify_ = nullptr;
    QMenu* copyToMenu_ = nullptr;

    QMenu* sourceMenu_ = nullptr;
    QAction* infoMenu_ = nullptr;
    QAction* identifyMenu_ = nullptr;
    std::vector<PresetSourcePtr> sourceMenuRows_;

    QMenu* presetMenu_ = nullptr;
    QMenu* presetCopyMenu_ = nullptr;
    QAction* loadMenu_ = nullptr;
    QAction* deleteMenu_ = nullptr;
    std::vector<PresetRow> presetMenuRows_;

    // Delete acts on the preset view only while it has (last had) the focus
    // among the window's views.
    bool presetViewFocused_ = false;
    CopyJobsHandler copyJobsHandler_;
};

}  // namespace zelto::ui
