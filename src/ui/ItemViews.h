#pragma once

#include <QListView>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace zelto::ui {

// Source rows: icon, the source's name and its preset count below.
class SourceDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
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

// The preset list: every group expanded, rows draggable; a hint in the empty
// area when there is no preset to show.
class PresetTreeView : public QTreeView {
    Q_OBJECT
  public:
    explicit PresetTreeView(QWidget* parent = nullptr);
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
    QString placeholder_;
};

}  // namespace zelto::ui
