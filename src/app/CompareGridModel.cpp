#include "app/CompareGridModel.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>
#include <unordered_map>

#include "app/PresetGrouping.h"

namespace zelto {

namespace {

// Group rows carry no parent id; preset rows carry their group's index + 1.
constexpr quintptr kGroupId = 0;

}  // namespace

QString CompareGridModel::symbol(CellState state) {
    switch (state) {
        case CellState::missing: return QStringLiteral("—");
        case CellState::unknown: return QStringLiteral("?");
        case CellState::same: return QStringLiteral("=");
        case CellState::differs: return QStringLiteral("≠");
        case CellState::onlyHere: return QStringLiteral("●");
    }
    return {};
}

QString CompareGridModel::stateText(CellState state) {
    switch (state) {
        case CellState::missing: return tr("missing");
        case CellState::unknown: return tr("content not known yet");
        case CellState::same: return tr("same as the folder");
        case CellState::differs: return tr("differs from the folder");
        case CellState::onlyHere: return tr("only here");
    }
    return {};
}

CompareGridModel::CompareGridModel(QObject* parent) : QAbstractItemModel(parent) {}

void CompareGridModel::setGrid(CompareGrid grid, std::vector<QString> titles) {
    beginResetModel();
    grid_ = std::move(grid);
    titles_ = std::move(titles);
    titles_.resize(grid_.columns.size());
    regroup();
    endResetModel();
}

void CompareGridModel::setOnlyDiffering(bool only) {
    if (only == onlyDiffering_) return;
    beginResetModel();
    onlyDiffering_ = only;
    regroup();
    endResetModel();
}

void CompareGridModel::regroup() {
    groups_.clear();
    std::vector<Preset> names;
    std::unordered_map<std::string, std::size_t> rowOfKey;
    for (std::size_t row = 0; row < grid_.rows.size(); ++row) {
        if (onlyDiffering_ && grid_.rows[row].inOrder()) continue;
        names.push_back(Preset{nullptr, RemoteZeltoPreset(grid_.rows[row].key)});
        rowOfKey.emplace(grid_.rows[row].key, row);
    }
    for (auto& group : groupPresets(names)) {
        if (group.presets.empty()) continue;
        Group shown;
        shown.name = group.name == othersGroupName ? QCoreApplication::translate("PresetGrouping", othersGroupName)
                                                   : QString::fromStdString(group.name);
        for (const auto& preset : group.presets) shown.rows.push_back(rowOfKey.at(preset.preset.name));
        groups_.push_back(std::move(shown));
    }
}

std::optional<CompareGridModel::CellRef> CompareGridModel::cellAt(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == kGroupId || index.column() < 1) return std::nullopt;
    const auto& group = groups_.at(index.internalId() - 1);
    return CellRef{group.rows.at(static_cast<std::size_t>(index.row())), static_cast<std::size_t>(index.column() - 1)};
}

QModelIndex CompareGridModel::indexOf(const std::string& key, std::size_t column) const {
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const auto& rows = groups_[g].rows;
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (grid_.rows[rows[r]].key == key)
                return createIndex(static_cast<int>(r), static_cast<int>(column + 1), quintptr(g + 1));
    }
    return {};
}

std::vector<PresetCopyJob> CompareGridModel::makeLikeFolderJobs(const QModelIndexList& cells) const {
    std::vector<PresetCopyJob> jobs;
    for (const auto& index : cells) {
        const auto cell = cellAt(index);
        if (!cell || cell->column == 0) continue;
        const auto& row = grid_.rows[cell->row];
        const auto& folder = row.cells.front().listed;
        if (!folder) continue;
        jobs.push_back({nullptr, grid_.columns[cell->column], folder->preset.name});
    }
    return jobs;
}

std::vector<PresetCopyJob> CompareGridModel::jobsFor(const std::vector<CellRef>& cells, std::size_t to) const {
    std::vector<PresetCopyJob> jobs;
    if (to >= grid_.columns.size()) return jobs;
    for (const auto& cell : cells) {
        if (cell.column == to || cell.row >= grid_.rows.size() || cell.column >= grid_.columns.size()) continue;
        const auto& listed = grid_.rows[cell.row].cells[cell.column].listed;
        if (listed) jobs.push_back({grid_.columns[cell.column], grid_.columns[to], listed->preset.name});
    }
    return jobs;
}

std::vector<PresetCopyJob> CompareGridModel::copyJobs(const QModelIndexList& cells, std::size_t to) const {
    std::vector<CellRef> refs;
    for (const auto& index : cells)
        if (auto cell = cellAt(index)) refs.push_back(*cell);
    return jobsFor(refs, to);
}

QModelIndex CompareGridModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount()) return {};
    if (!parent.isValid()) {
        if (static_cast<std::size_t>(row) >= groups_.size()) return {};
        return createIndex(row, column, kGroupId);
    }
    if (parent.internalId() != kGroupId || parent.column() != 0) return {};
    const auto group = static_cast<std::size_t>(parent.row());
    if (group >= groups_.size() || static_cast<std::size_t>(row) >= groups_[group].rows.size()) return {};
    return createIndex(row, column, quintptr(group + 1));
}

QModelIndex CompareGridModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kGroupId) return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kGroupId);
}

int CompareGridModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(groups_.size());
    if (parent.internalId() != kGroupId || parent.column() != 0) return 0;
    return static_cast<int>(groups_.at(static_cast<std::size_t>(parent.row())).rows.size());
}

int CompareGridModel::columnCount(const QModelIndex&) const {
    return 1 + static_cast<int>(grid_.columns.size());
}

QVariant CompareGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (index.internalId() == kGroupId) {
        if (role == IsGroupRole) return true;
        if (index.column() == 0 && role == Qt::DisplayRole) return groups_.at(static_cast<std::size_t>(index.row())).name;
        return {};
    }
    if (role == IsGroupRole) return false;
    const auto& group = groups_.at(index.internalId() - 1);
    const auto& row = grid_.rows.at(group.rows.at(static_cast<std::size_t>(index.row())));
    if (index.column() == 0) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QString::fromStdString(row.key);
        return {};
    }
    const auto column = static_cast<std::size_t>(index.column() - 1);
    const auto& cell = row.cells.at(column);
    switch (role) {
        case Qt::DisplayRole: return symbol(cell.state);
        case CellStateRole: return static_cast<int>(cell.state);
        case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return tr("%1 on %2: %3")
                .arg(QString::fromStdString(cell.listed ? cell.listed->preset.name : row.key), titles_.at(column),
                     stateText(cell.state));
        default: return {};
    }
}

QVariant CompareGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return tr("Preset");
    const auto column = static_cast<std::size_t>(section - 1);
    return column < titles_.size() ? titles_[column] : QVariant();
}

Qt::ItemFlags CompareGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (const auto cell = cellAt(index)) {
        flags |= Qt::ItemIsDropEnabled;
        if (grid_.rows[cell->row].cells[cell->column].listed) flags |= Qt::ItemIsDragEnabled;
    }
    return flags;
}

QStringList CompareGridModel::mimeTypes() const {
    return {QString::fromLatin1(mimeType)};
}

QMimeData* CompareGridModel::mimeData(const QModelIndexList& indexes) const {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const auto& index : indexes) {
        const auto cell = cellAt(index);
        if (!cell || !grid_.rows[cell->row].cells[cell->column].listed) continue;
        out << QString::fromStdString(grid_.rows[cell->row].key) << quint32(cell->column);
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(mimeType), bytes);
    return data;
}

std::vector<CompareGridModel::CellRef> CompareGridModel::decode(const QMimeData* data) const {
    std::vector<CellRef> cells;
    if (!data || !data->hasFormat(QString::fromLatin1(mimeType))) return cells;
    const QByteArray bytes = data->data(QString::fromLatin1(mimeType));
    QDataStream in(bytes);
    while (!in.atEnd()) {
        QString key;
        quint32 column = 0;
        in >> key >> column;
        if (in.status() != QDataStream::Ok) break;
        if (auto row = grid_.rowOf(key.toStdString())) cells.push_back({*row, column});
    }
    return cells;
}

bool CompareGridModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                       const QModelIndex& parent) const {
    const auto target = cellAt(parent);
    return target && !jobsFor(decode(data), target->column).empty();
}

bool CompareGridModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                    const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    auto jobs = jobsFor(decode(data), cellAt(parent)->column);
    if (copyHandler_) copyHandler_(std::move(jobs));
    // The copy is a run of its own; nothing moves in this model.
    return false;
}

}  // namespace zelto
