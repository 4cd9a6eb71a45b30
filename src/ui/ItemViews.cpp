#include "ui/ItemViews.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMimeData>
#include <QPainter>

#include "app/PresetTreeModel.h"
#include "app/SourceListModel.h"
#include "ui/Icons.h"
#include "ui/TextColors.h"

namespace zelto::ui {

namespace {

constexpr int kHorizontalPadding = 10;

// Over a selected row the system's highlight colours stay as they are.
QColor secondaryText(const QStyleOptionViewItem& option, bool selected, const QColor& background) {
    if (!selected) return secondaryViewText(option.palette, background);
    QColor color = option.palette.color(QPalette::HighlightedText);
    color.setAlphaF(0.8f);
    return color;
}

void drawBackground(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) {
    QStyleOptionViewItem background = option;
    background.text.clear();
    background.icon = QIcon();
    background.index = index;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);
}

// The row a context menu is for and where it opens: under the pointer, or
// from the keyboard (menu key, Shift+F10) below the current row.
std::pair<QModelIndex, QPoint> contextMenuTarget(const QAbstractItemView* view,
                                                 const QContextMenuEvent* event) {
    QModelIndex index;
    QPoint at;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        index = view->currentIndex();
        const QRect rect = view->visualRect(index);
        at = rect.isValid() ? rect.bottomLeft() : QPoint(0, 0);
    } else {
        at = view->viewport()->mapFromGlobal(event->globalPos());
        index = view->indexAt(at);
    }
    return {index, view->viewport()->mapToGlobal(at)};
}

}  // namespace

void SourceDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    drawBackground(painter, opt, index);
    const bool selected = opt.state & QStyle::State_Selected;
    const bool device = index.data(SourceListModel::IsDeviceRole).toBool();

    const QRect area = opt.rect.adjusted(kHorizontalPadding, 0, -kHorizontalPadding, 0);
    const int iconSize = std::min(28, area.height() - 8);
    const QRect iconRect(area.left(), area.center().y() - iconSize / 2 + 1, iconSize, iconSize);
    const QIcon& icon = device ? appIcon() : folderIcon(opt.palette.color(QPalette::Text));
    icon.paint(painter, iconRect, Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);

    const QRect textRect = area.adjusted(iconSize + 10, 0, 0, 0);
    QFont nameFont = opt.font;
    nameFont.setWeight(QFont::DemiBold);
    QFont countFont = opt.font;
    countFont.setPointSizeF(opt.font.pointSizeF() * 0.9);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics countMetrics(countFont);
    const int top = textRect.center().y() - (nameMetrics.height() + countMetrics.height()) / 2;

    painter->save();
    painter->setFont(nameFont);
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(textRect.left(), top, textRect.width(), nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(opt.text, Qt::ElideMiddle, textRect.width()));
    painter->setFont(countFont);
    painter->setPen(secondaryText(opt, selected, opt.palette.color(QPalette::Base)));
    const QString detail = index.data(Qt::AccessibleDescriptionRole).toString();
    painter->drawText(
        QRect(textRect.left(), top + nameMetrics.height(), textRect.width(), countMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, detail);
    painter->restore();
}

const QIcon& SourceDelegate::folderIcon(const QColor& color) const {
    if (folderIcon_.isNull() || color != folderColor_) {
        folderIcon_ = lineIcon(QStringLiteral("folder"), color);
        folderColor_ = color;
    }
    return folderIcon_;
}

QSize SourceDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QFontMetrics metrics(option.font);
    size.setHeight(std::max(40, metrics.height() * 2 + 14));
    return size;
}

void PresetDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selected = opt.state & QStyle::State_Selected;
    const bool group = index.data(PresetTreeModel::IsGroupRole).toBool();
    if (group && !selected) {
        // A faint band marks the group rows as headings, in light and dark palettes alike.
        QRect row = opt.rect;
        if (opt.widget) row.setLeft(0);
        painter->fillRect(row, groupHeadingBand(opt.palette));
    }
    drawBackground(painter, opt, index);

    const QRect area = opt.rect.adjusted(group ? 4 : 2, 0, -kHorizontalPadding, 0);
    painter->save();
    const QColor text = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (group) {
        QFont font = opt.font;
        font.setBold(true);
        const QFontMetrics metrics(font);
        const QString count = QString::number(index.data(PresetTreeModel::PresetCountRole).toInt());
        const int countWidth = metrics.horizontalAdvance(count) + 8;
        painter->setFont(font);
        painter->setPen(text);
        const QString name = opt.text.isEmpty() ? QStringLiteral("—") : opt.text;
        painter->drawText(area.adjusted(0, 0, -countWidth, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(name, Qt::ElideRight, area.width() - countWidth));
        painter->setPen(secondaryText(opt, selected, groupHeadingBand(opt.palette)));
        painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter, count);
    } else {
        const QString name = index.data(PresetTreeModel::PresetNameRole).toString();
        const QString suffix = opt.text.mid(name.size());
        const QFontMetrics metrics(opt.font);
        painter->setFont(opt.font);
        painter->setPen(text);
        const QString shownName = metrics.elidedText(name, Qt::ElideMiddle, area.width());
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shownName);
        if (!suffix.isEmpty() && shownName == name) {
            const int used = metrics.horizontalAdvance(name);
            painter->setPen(secondaryText(opt, selected, opt.palette.color(QPalette::Base)));
            painter->drawText(area.adjusted(used, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(suffix, Qt::ElideMiddle, area.width() - used));
        }
    }
    painter->restore();
}

QSize PresetDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QFontMetrics metrics(option.font);
    size.setHeight(metrics.height() + (index.data(PresetTreeModel::IsGroupRole).toBool() ? 14 : 8));
    return size;
}

SourceListView::SourceListView(QWidget* parent) : QListView(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::DropOnly);
    // A drop anywhere on a row lands on the row, never between rows.
    setDragDropOverwriteMode(true);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(true);
    setAcceptDrops(true);
    setUniformItemSizes(true);
    setItemDelegate(new SourceDelegate(this));
    setFrameShape(QFrame::NoFrame);
}

void SourceListView::contextMenuEvent(QContextMenuEvent* event) {
    const auto [index, at] = contextMenuTarget(this, event);
    emit contextMenuAt(index, at);
}

PresetTreeView::PresetTreeView(QWidget* parent) : QTreeView(parent) {
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setDragEnabled(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setExpandsOnDoubleClick(true);
    setIndentation(18);
    setItemDelegate(new PresetDelegate(this));
    setFrameShape(QFrame::NoFrame);
    connect(this, &QTreeView::collapsed, this,
            [this](const QModelIndex& group) { collapsedGroups_.insert(groupKey(group)); });
    connect(this, &QTreeView::expanded, this,
            [this](const QModelIndex& group) { collapsedGroups_.remove(groupKey(group)); });
}

void PresetTreeView::setModel(QAbstractItemModel* model) {
    QTreeView::setModel(model);
    if (!model) return;
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) openGroups(first, last);
            });
    connect(model, &QAbstractItemModel::modelReset, this,
            [this] { openGroups(0, this->model()->rowCount() - 1); });
    openGroups(0, model->rowCount() - 1);
}

QString PresetTreeView::groupKey(const QModelIndex& group) {
    return group.data().toString().toLower();
}

void PresetTreeView::openGroups(int first, int last) {
    for (int row = first; row <= last; ++row) {
        const QModelIndex group = model()->index(row, 0);
        if (!collapsedGroups_.contains(groupKey(group))) setExpanded(group, true);
    }
}

void PresetTreeView::contextMenuEvent(QContextMenuEvent* event) {
    const auto [index, at] = contextMenuTarget(this, event);
    emit contextMenuAt(index, at);
}

void PresetTreeView::setPlaceholderText(const QString& text) {
    placeholder_ = text;
    viewport()->update();
}

bool PresetTreeView::hasPresetRows() const {
    const auto* m = model();
    if (!m) return false;
    for (int row = 0; row < m->rowCount(); ++row)
        if (m->rowCount(m->index(row, 0)) > 0) return true;
    return false;
}

void PresetTreeView::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    if (placeholder_.isEmpty() || hasPresetRows()) return;
    QPainter painter(viewport());
    QColor color = palette().color(QPalette::Text);
    color.setAlphaF(0.5f);
    painter.setPen(color);
    painter.drawText(viewport()->rect().adjusted(24, 0, -24, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     placeholder_);
}

// A drag copies: the rows stay where they are.
void PresetTreeView::startDrag(Qt::DropActions supportedActions) {
    QTreeView::startDrag(supportedActions & Qt::CopyAction);
}

}  // namespace zelto::ui
