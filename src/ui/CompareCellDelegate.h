#pragma once

// Paints the cells of the comparison grid: each state's symbol in its own
// colour, bold, chosen to keep 4.5:1 against the view's base in light and
// dark palettes alike; group rows in the preset view's heading band.
//
// Main thread only.
#include <QStyledItemDelegate>

#include "compare/CompareGrid.h"

namespace zelto::ui {

class CompareCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The colour of a state over `background`.
    static QColor stateColor(CellState state, const QColor& background);

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace zelto::ui
