#pragma once

// The comparison grid as a tree for the Compare window: the preset names in
// groups, as the preset view groups them, each a row whose first column is
// the name and whose further columns are the sources, the folder first. A
// cell shows its state's symbol (each state its own, so the grid reads
// without colour; the view adds the colour from CellStateRole), its tooltip
// and accessible text name the state.
//
// The filter keeps only the rows that differ or are missing somewhere (every
// row not in order). A new grid replaces the rows with one reset; a filter
// change too.
//
// Cells act through copy jobs handed to the copy handler: "make like the
// folder" for chosen cells, and a cell dropped on another column of the grid
// copies that source's preset to the column's source.
//
// Main thread only.
#include <QAbstractItemModel>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "app/DataStore.h"
#include "compare/CompareGrid.h"

namespace zelto {

class CompareGridModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    enum Role { CellStateRole = Qt::UserRole + 1, IsGroupRole };
    static constexpr const char* mimeType = "application/x-zelto-compare-cells";

    // The symbol of a state: "—" missing, "?" unknown, "=" same, "≠"
    // differs, "●" only here.
    static QString symbol(CellState state);
    // The state in words, for the legend and the tooltips.
    static QString stateText(CellState state);

    explicit CompareGridModel(QObject* parent = nullptr);

    // `titles`: one per column of the grid (the folder's first).
    void setGrid(CompareGrid grid, std::vector<QString> titles);
    const CompareGrid& grid() const { return grid_; }
    void setOnlyDiffering(bool only);
    bool onlyDiffering() const { return onlyDiffering_; }

    // The grid row and column of a cell index; none for group rows and the
    // name column.
    struct CellRef {
        std::size_t row = 0, column = 0;
    };
    std::optional<CellRef> cellAt(const QModelIndex& index) const;
    // The index of a grid row's cell (column: the grid's); invalid when the
    // row is filtered out.
    QModelIndex indexOf(const std::string& key, std::size_t column) const;

    // Copies the folder's preset onto the mixers of the chosen cells (mixer
    // cells of rows the folder holds).
    std::vector<PresetCopyJob> makeLikeFolderJobs(const QModelIndexList& cells) const;
    // Copies each chosen cell's preset to the source of grid column `to`.
    std::vector<PresetCopyJob> copyJobs(const QModelIndexList& cells, std::size_t to) const;
    using CopyHandler = std::function<void(std::vector<PresetCopyJob>)>;
    void setCopyHandler(CopyHandler handler) { copyHandler_ = std::move(handler); }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }

  private:
    struct Group {
        QString name;
        std::vector<std::size_t> rows;  // grid rows
    };
    void regroup();
    // Cell indexes of the grid encoded in the drag data.
    std::vector<CellRef> decode(const QMimeData* data) const;
    std::vector<PresetCopyJob> jobsFor(const std::vector<CellRef>& cells, std::size_t to) const;

    CompareGrid grid_;
    std::vector<QString> titles_;
    std::vector<Group> groups_;
    bool onlyDiffering_ = false;
    CopyHandler copyHandler_;
};

}  // namespace zelto
