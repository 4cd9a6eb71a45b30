#include "ui/DiffRowDelegate.h"

#include "app/PresetDiffModel.h"

namespace zelto::ui {

void DiffRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(PresetDiffModel::DiffersRole).toBool()) return;
    const bool value = index.column() == PresetDiffModel::leftColumn || index.column() == PresetDiffModel::rightColumn;
    const QColor base = option->palette.color(QPalette::Base);
    const bool dark = base.lightness() < 128;
    QColor band = index.column() == PresetDiffModel::leftColumn ? QColor(0xc0, 0x1c, 0x1c) : QColor(0x1b, 0x6e, 0x20);
    if (!value) band = option->palette.color(QPalette::Highlight);
    band.setAlpha(dark ? 70 : 38);
    option->backgroundBrush = band;
    if (value) option->font.setBold(true);
}

}  // namespace zelto::ui
