#pragma once

// Paints the rows of a preset diff: a differing row's two values on a tinted
// band, bold, so they stand out among the equal ones of "show all".
//
// Main thread only.
#include <QStyledItemDelegate>

namespace zelto::ui {

class DiffRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace zelto::ui
