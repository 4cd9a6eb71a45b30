#pragma once

// A diff window (Compare Presets, Ctrl+Shift+D): two presets side by side,
// section / setting / left / right, only the differing rows unless "Show
// all" is on. The presets are read through the controller: a folder's from
// its file, a mixer's fetched. A preset that cannot be read is a message.
//
// Main thread only.
#include <QWidget>
#include <memory>

#include "app/DataStore.h"
#include "app/PresetDiffModel.h"

class QCheckBox;
class QLabel;
class QTableView;

namespace zelto {
class MainController;
}

namespace zelto::ui {

class PresetDiffWindow : public QWidget {
    Q_OBJECT
  public:
    PresetDiffWindow(MainController& controller, QWidget* parent);
    ~PresetDiffWindow() override;

    PresetDiffModel& model() { return *model_; }
    QTableView* view() const { return view_; }
    QCheckBox* showAllBox() const { return showAll_; }
    QLabel* summaryLabel() const { return summary_; }

    // Reads both presets and shows their diff (the window shows itself).
    void comparePresets(const Preset& left, const Preset& right);
    // Shows the diff of two presets already read.
    void showPresets(ZeltoPreset left, ZeltoPreset right, QString leftTitle, QString rightTitle);

  Q_SIGNALS:
    // Both presets were read (or one could not be) and the window shows it.
    void shown();

  private:
    QString titleOf(const Preset& preset) const;
    void updateSummary();

    MainController& controller_;
    std::unique_ptr<PresetDiffModel> model_;
    QLabel* summary_ = nullptr;
    QTableView* view_ = nullptr;
    QCheckBox* showAll_ = nullptr;
    // The comparison asked for last: answers of earlier ones are dropped.
    int generation_ = 0;
};

}  // namespace zelto::ui
