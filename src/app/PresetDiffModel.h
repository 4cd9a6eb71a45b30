#pragma once

// Two presets side by side for the diff window: one row per compared value
// (section, path, left, right), only the differing ones unless every row is
// asked for. DiffersRole tells the view which rows to highlight.
//
// Main thread only.
#include <QAbstractTableModel>
#include <QString>
#include <optional>
#include <vector>

#include "compare/PresetDiff.h"

namespace zelto {

class PresetDiffModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { sectionColumn, pathColumn, leftColumn, rightColumn, columnCount_ };
    enum Role { DiffersRole = Qt::UserRole + 1 };

    explicit PresetDiffModel(QObject* parent = nullptr);

    // The two presets and the titles of their columns (source and name).
    void setPresets(ZeltoPreset left, ZeltoPreset right, QString leftTitle, QString rightTitle);
    void setShowAll(bool all);
    bool showAll() const { return showAll_; }
    const std::vector<DiffRow>& rows() const { return rows_; }
    // Rows whose sides differ, whatever is shown.
    int differingCount() const { return differing_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    void rediff();

    std::optional<ZeltoPreset> left_, right_;
    QString leftTitle_, rightTitle_;
    bool showAll_ = false;
    std::vector<DiffRow> rows_;
    int differing_ = 0;
};

}  // namespace zelto
