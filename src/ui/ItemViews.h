#pragma once

#include <QIcon>
#include <QListView>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace zelto::ui {

// Source rows: icon, the source's name and its preset count below. The
// folder icon is made once per text colour (a palette change makes it anew);
// the icons keep their rendered pixmaps, so a paint parses no SVG.
class SourceDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    const QIcon& folderIcon(const QColor& color) const;
    mutable QIcon folderIcon_;
    mutable QColor folderColor_;
};

// Group rows as section headers with their count; preset rows with the
// source suffix in a quieter colour.
class PresetDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The source list: a drop target for preset and group rows (onto a row only).
class SourceListView : public QListView {
    Q_OBJECT
  public:
    explicit SourceListView(QWidget* parent = nullptr);

  signals:
    // The context menu was asked for on `clicked` (invalid: the empty area),
    // to open at `globalPos`; from the keyboard, on the current row.
    void contextMenuAt(const QModelIndex& clicked, const QPoint& globalPos);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// The preset list: rows draggable; a hint in the empty area when there is no
// preset to show. Groups open expanded and can be collapsed and expanded by
// their arrow, a double click on the heading, or Left and Right; a group the
// user collapsed stays collapsed (by its name, ignoring case) while the model
// changes, even when it leaves the list and comes back.
class PresetTreeView : public QTreeView {
    Q_OBJECT
  public:
    explicit PresetTreeView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;
    void setPlaceholderText(const QString& text);
    const QString& placeholderText() const { return placeholder_; }

  signals:
    void contextMenuAt(const QModelIndex& clicked, const QPoint& globalPos);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

  private:
    bool hasPresetRows() const;
    // Expands the group rows first..last unless the user collapsed them.
    void openGroups(int first, int last);
    static QString groupKey(const QModelIndex& group);

    QString placeholder_;
    QSet<QString> collapsedGroups_;
};

}  // namespace zelto::ui
