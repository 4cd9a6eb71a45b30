#pragma once

// What Sync All will do, asked before it starts: the presets it fetches into
// the sync folder (and from which mixer), and those it sends to each mixer,
// from the sync's own plan; the presets that differ in content and that the
// sync, matching by name, leaves as they are. Sync accepts the dialog,
// Cancel rejects it.
//
// Main thread only.
#include <QDialog>

#include "compare/SyncPreview.h"

class QDialogButtonBox;
class QLabel;
class QTreeWidget;

namespace zelto::ui {

class SyncPreviewDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SyncPreviewDialog(QWidget* parent);

    // `titles`: one per grid column (the folder's first).
    void setPreview(const CompareGrid& grid, const SyncPreview& preview, const std::vector<QString>& titles);

    QTreeWidget* list() const { return list_; }
    QLabel* summaryLabel() const { return summary_; }

  private:
    QLabel* summary_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace zelto::ui
