#pragma once

// The History window (Ctrl+H): every kept version of the sync folder's
// presets, by name, with when, where and why; a version is restored into the
// folder or onto a mixer with Restore (the destination chosen beside it) or
// by dragging it onto a source of the main window. Restores are runs of the
// controller, shown in the status sheet. The list is read again whenever the
// controller says the history changed and when the window is shown; a
// history that cannot be read is a message above the (empty) list.
//
// Main thread only.
#include <QWidget>
#include <memory>
#include <vector>

#include "app/DataStore.h"
#include "app/HistoryModel.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace zelto {
class MainController;
}

namespace zelto::ui {

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    HistoryWindow(MainController& controller, QWidget* parent);
    ~HistoryWindow() override;

    HistoryModel& model() { return *model_; }
    QTreeView* view() const { return view_; }
    QComboBox* destinationBox() const { return destination_; }
    QPushButton* restoreButton() const { return restore_; }
    QLabel* problemLabel() const { return problem_; }

    // Reads the history again (it shows when read).
    void reload();

  Q_SIGNALS:
    // A listing arrived and is shown.
    void reloaded();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showListing(HistoryListing listing);
    void fillDestinations();
    void updateButtons();
    void restoreSelected();

    MainController& controller_;
    std::unique_ptr<HistoryModel> model_;
    QLabel* problem_ = nullptr;
    QLabel* empty_ = nullptr;
    QTreeView* view_ = nullptr;
    QComboBox* destination_ = nullptr;
    QPushButton* restore_ = nullptr;
    // The combo box's items, in order (weakly: a mixer may go).
    std::vector<std::weak_ptr<PresetSource>> destinations_;
};

}  // namespace zelto::ui
