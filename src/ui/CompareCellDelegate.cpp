#include "ui/CompareCellDelegate.h"

#include "app/CompareGridModel.h"
#include "ui/TextColors.h"

namespace zelto::ui {

QColor CompareCellDelegate::stateColor(CellState state, const QColor& background) {
    QColor color;
    switch (state) {
        case CellState::missing: color = QColor(0x75, 0x75, 0x75); break;
        case CellState::unknown: color = QColor(0x9a, 0x5b, 0x00); break;
        case CellState::same: color = QColor(0x1b, 0x6e, 0x20); break;
        case CellState::differs: color = QColor(0xc0, 0x1c, 0x1c); break;
        case CellState::onlyHere: color = QColor(0x15, 0x5f, 0xb8); break;
    }
    // On a dark base the same hues, lighter, until they read.
    for (int step = 0; step < 8 && contrastRatio(color, background) < 4.5; ++step) color = color.lighter(130);
    return color;
}

void CompareCellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(CompareGridModel::IsGroupRole).toBool()) {
        option->font.setBold(true);
        option->backgroundBrush = groupHeadingBand(option->palette);
        return;
    }
    const QVariant state = index.data(CompareGridModel::CellStateRole);
    if (!state.isValid()) return;
    const QColor color = stateColor(static_cast<CellState>(state.toInt()), option->palette.color(QPalette::Base));
    option->palette.setColor(QPalette::Text, color);
    option->font.setBold(true);
    option->font.setPointSizeF(option->font.pointSizeF() * 1.15);
}

}  // namespace zelto::ui
