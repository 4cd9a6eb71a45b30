#pragma once

// The Compare window (View ▸ Compare, Ctrl+D): every preset name of every
// source in one grid (CompareGridModel), the folder's column first, a legend
// of the cell symbols, and a filter that keeps the rows that differ or are
// missing somewhere. The grid is built again from the cached fingerprints,
// without fetching anything, whenever a list or the fingerprints change
// while the window is shown.
//
// Compare Contents starts the controller's compare run (status sheet, Cancel).
// Make Like the Folder copies the folder's preset onto the chosen mixer
// cells, and a cell dropped on another column copies it there: both through
// the window's copy handler (the main window's copy run). Compare Presets
// opens the diff of two chosen cells through the diff handler.
//
// Main thread only.
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "app/CompareGridModel.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeView;

namespace zelto {
class MainController;
}

namespace zelto::ui {

class CompareWindow : public QWidget {
    Q_OBJECT
  public:
    CompareWindow(MainController& controller, QWidget* parent);
    ~CompareWindow() override;

    CompareGridModel& model() { return *model_; }
    QTreeView* view() const { return view_; }
    QCheckBox* filterBox() const { return filter_; }
    QPushButton* compareButton() const { return compare_; }
    QPushButton* makeLikeFolderButton() const { return makeLike_; }
    QPushButton* comparePresetsButton() const { return comparePresets_; }
    QLabel* legend() const { return legend_; }

    using CopyHandler = std::function<void(std::vector<PresetCopyJob>)>;
    void setCopyHandler(CopyHandler handler);
    using DiffHandler = std::function<void(Preset left, Preset right)>;
    void setDiffHandler(DiffHandler handler) { diffHandler_ = std::move(handler); }

    // Builds the grid again (it shows when built).
    void reload();
    // The titles of the grid's columns: the sync folder, then each mixer as
    // the source list names it.
    static std::vector<QString> columnTitles(MainController& controller, const CompareGrid& grid);
    // The two chosen cells that hold a preset, when exactly two do.
    std::optional<std::pair<Preset, Preset>> chosenPair() const;

  Q_SIGNALS:
    // A grid was built and is shown.
    void reloaded();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showGrid(CompareGrid grid);
    void updateButtons();
    QString legendText() const;

    MainController& controller_;
    std::unique_ptr<CompareGridModel> model_;
    QTreeView* view_ = nullptr;
    QCheckBox* filter_ = nullptr;
    QLabel* legend_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* compare_ = nullptr;
    QPushButton* makeLike_ = nullptr;
    QPushButton* comparePresets_ = nullptr;
    QTimer* reloadSoon_ = nullptr;
    CopyHandler copyHandler_;
    DiffHandler diffHandler_;
};

}  // namespace zelto::ui
