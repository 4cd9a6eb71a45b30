#include "app/SourceListModel.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMimeData>
#include <algorithm>
#include <utility>

#include "app/HistoryModel.h"
#include "app/PresetTreeModel.h"
#include "app/ViewRules.h"

namespace zelto {

SourceListModel::SourceListModel(DataStore& store, const PresetTreeModel& presets, QObject* parent)
    : QAbstractListModel(parent), store_(store), presets_(presets) {
    connect(&store_, &DataStore::DataStoreSourceAdded, this, [this] { scheduleSync(); });
    connect(&store_, &DataStore::DataStoreSourceRemoved, this, [this] { scheduleSync(); });
    connect(&store_, &DataStore::PresetSourcePresetsAdded, this, [this](const PresetSourcePtr& source) {
        if (std::find(changedSources_.begin(), changedSources_.end(), source) == changedSources_.end())
            changedSources_.push_back(source);
        scheduleSync();
    });
    sources_ = store_.sources();
}

// The store's writer may still be inside its own call (and notifications
// come in bursts): one later turn handles them all.
void SourceListModel::scheduleSync() {
    if (syncPending_) return;
    syncPending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { syncWithStore(); }, Qt::QueuedConnection);
}

void SourceListModel::syncWithStore() {
    syncPending_ = false;
    const auto current = store_.sources();
    // The store only appends and removes, so the order of what stays is kept.
    for (int row = static_cast<int>(sources_.size()) - 1; row >= 0; --row) {
        if (std::find(current.begin(), current.end(), sources_[row]) != current.end()) continue;
        beginRemoveRows({}, row, row);
        sources_.erase(sources_.begin() + row);
        endRemoveRows();
    }
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (i < sources_.size() && sources_[i] == current[i]) continue;
        const int row = static_cast<int>(i);
        beginInsertRows({}, row, row);
        sources_.insert(sources_.begin() + row, current[i]);
        endInsertRows();
    }
    if (changedSources_.empty()) return;
    for (const auto& source : std::exchange(changedSources_, {})) {
        const auto row = std::find(sources_.begin(), sources_.end(), source) - sources_.begin();
        if (row == static_cast<std::ptrdiff_t>(sources_.size())) continue;
        const auto changed = index(static_cast<int>(row));
        emit dataChanged(changed, changed, {Qt::ToolTipRole, Qt::AccessibleDescriptionRole, PresetCountRole});
    }
    emit presetsChanged();
}

QString SourceListModel::displayName(const PresetSource& source) {
    if (!source.device() && source.name() == DataStore::localSourceName)
        return QCoreApplication::translate("zelto::DataStore", DataStore::localSourceName);
    return QString::fromStdString(source.name());
}

PresetSourcePtr SourceListModel::sourceAt(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return sources_[static_cast<std::size_t>(row)];
}

std::vector<PresetSourcePtr> SourceListModel::sourcesAt(const std::vector<int>& rows) const {
    std::vector<PresetSourcePtr> sources;
    for (int row : rows)
        if (auto source = sourceAt(row)) sources.push_back(std::move(source));
    return sources;
}

int SourceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(sources_.size());
}

QVariant SourceListModel::data(const QModelIndex& index, int role) const {
    const auto source = index.isValid() ? sourceAt(index.row()) : nullptr;
    if (!source) return {};
    switch (role) {
        case Qt::DisplayRole:
            return displayName(*source);
        case Qt::ToolTipRole:
            return tr("%1\n%n presets", nullptr, static_cast<int>(source->presetCount())).arg(displayName(*source));
        case Qt::AccessibleDescriptionRole: {
            const auto count = static_cast<int>(source->presetCount());
            return source->device() ? tr("Mixer  ·  %n presets", nullptr, count)
                                    : tr("Sync folder  ·  %n presets", nullptr, count);
        }
        case IsDeviceRole:
            return source->device() != nullptr;
        case PresetCountRole:
            return static_cast<int>(source->presetCount());
        default:
            return {};
    }
}

Qt::ItemFlags SourceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled | Qt::ItemNeverHasChildren;
}

QStringList SourceListModel::mimeTypes() const {
    return {QString::fromLatin1(presetDragType), QString::fromLatin1(HistoryModel::versionDragType)};
}

Qt::DropActions SourceListModel::supportedDropActions() const {
    return Qt::CopyAction;
}

Qt::DropActions SourceListModel::supportedDragActions() const {
    return Qt::IgnoreAction;
}

bool SourceListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                      const QModelIndex& parent) const {
    // Onto a source row only: Qt passes row and column -1 with the row as parent.
    const bool known = data && (data->hasFormat(QString::fromLatin1(presetDragType)) ||
                                data->hasFormat(QString::fromLatin1(HistoryModel::versionDragType)));
    return known && action == Qt::CopyAction &&
           row == -1 && column == -1 && parent.isValid() && parent.model() == this &&
           sourceAt(parent.row()) != nullptr;
}

bool SourceListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                   const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    const auto target = sourceAt(parent.row());
    if (data->hasFormat(QString::fromLatin1(HistoryModel::versionDragType))) {
        auto versions = HistoryModel::draggedVersions(data);
        if (versions.empty()) return false;
        if (restoreHandler_) restoreHandler_(std::move(versions), target->device());
        return true;
    }
    auto jobs = copyJobsForDrop(PresetTreeModel::dragItems(data), target->device(), store_.sources(),
                                presets_.groups());
    if (copyHandler_) copyHandler_(std::move(jobs));
    return true;
}

}  // namespace zelto
