#include "app/PresetTreeModel.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QMimeData>
#include <QSet>
#include <algorithm>
#include <deque>
#include <functional>

#include "app/PresetGrouping.h"
#include "device/ZeltoDevice.h"

namespace zelto {

// A group row's internal id is 0; a preset row's is its group's stable id.
namespace {

constexpr quintptr groupRowId = 0;

QString foldedName(const PresetGroup& group) {
    return QString::fromStdString(group.name).toLower();
}

// What makes a preset row the same row in the next list.
struct RowKey {
    const void* device;
    const std::string* name;
    friend bool operator==(const RowKey& a, const RowKey& b) {
        return a.device == b.device && *a.name == *b.name;
    }
};
struct RowKeyHash {
    std::size_t operator()(const RowKey& key) const {
        return std::hash<std::string>()(*key.name) ^ (std::hash<const void*>()(key.device) << 1);
    }
};
RowKey keyOf(const Preset& preset) {
    return {preset.device.get(), &preset.preset.name};
}

// Calls `run(first, last)` for each run of consecutive indexes in [0, count)
// where `marked` holds, last run first (so earlier rows keep their numbers).
template <class Marked, class Run>
void forRunsBackwards(int count, Marked marked, Run run) {
    for (int last = count - 1; last >= 0; --last) {
        if (!marked(last)) continue;
        int first = last;
        while (first > 0 && marked(first - 1)) --first;
        run(first, last);
        last = first;
    }
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QString presetToolTip(const Preset& preset) {
    QString tip = qt(preset.preset.name);
    tip += QStringLiteral("\n") + (preset.device
                                       ? qt(preset.device->description())
                                       : QCoreApplication::translate("zelto::PresetTreeModel", "local"));
    if (preset.preset.date) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(preset.preset.date->time_since_epoch())
                .count();
        tip += QStringLiteral("\n") +
               QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
    }
    return tip;
}

}  // namespace

PresetTreeModel::PresetTreeModel(QObject* parent) : QAbstractItemModel(parent) {
    groups_ = groupPresets({});
    for (std::size_t g = 0; g < groups_.size(); ++g) groupIds_.push_back(nextGroupId_++);
    renumberGroups();
}

void PresetTreeModel::showPresets(const std::vector<Preset>& presets) {
    auto fresh = groupPresets(presets);
    const bool multiple = zelto::hasMultipleSources(presets);
    const bool suffixesChange = multiple != hasMultipleSources_;
    hasMultipleSources_ = multiple;

    removeGroupsNotIn(fresh);
    // What is left is in the order of `fresh`, which has every group of it.
    const auto inserted = insertGroupsOf(fresh);
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const int row = static_cast<int>(g);
        if (inserted[g]) continue;
        if (groups_[g].name != fresh[g].name) {
            groups_[g].name = fresh[g].name;
            Q_EMIT dataChanged(groupIndex(row), groupIndex(row), {Qt::DisplayRole});
        }
        const auto count = groups_[g].presets.size();
        updatePresetsOf(row, fresh[g].presets);
        if (groups_[g].presets.size() != count)
            Q_EMIT dataChanged(groupIndex(row), groupIndex(row), {PresetCountRole});
        // Each preset row's text carries its source, or no longer does.
        if (suffixesChange && !groups_[g].presets.empty()) {
            const auto parent = groupIndex(row);
            Q_EMIT dataChanged(index(0, 0, parent), index(rowCount(parent) - 1, 0, parent),
                               {Qt::DisplayRole});
        }
    }
}

void PresetTreeModel::removeGroupsNotIn(const std::vector<PresetGroup>& fresh) {
    QSet<QString> wanted;
    for (const auto& group : fresh) wanted.insert(foldedName(group));
    std::vector<bool> goes(groups_.size());
    for (std::size_t g = 0; g < groups_.size(); ++g) goes[g] = !wanted.contains(foldedName(groups_[g]));
    forRunsBackwards(
        static_cast<int>(groups_.size()), [&](int g) { return bool(goes[std::size_t(g)]); },
        [&](int first, int last) {
            beginRemoveRows({}, first, last);
            groups_.erase(groups_.begin() + first, groups_.begin() + last + 1);
            groupIds_.erase(groupIds_.begin() + first, groupIds_.begin() + last + 1);
            renumberGroups();
            endRemoveRows();
        });
}

std::vector<bool> PresetTreeModel::insertGroupsOf(std::vector<PresetGroup>& fresh) {
    std::vector<bool> inserted(fresh.size(), false);
    QSet<QString> shown;
    for (const auto& group : groups_) shown.insert(foldedName(group));
    for (std::size_t g = 0; g < fresh.size();) {
        if (shown.contains(foldedName(fresh[g]))) {
            ++g;
            continue;
        }
        std::size_t end = g + 1;
        while (end < fresh.size() && !shown.contains(foldedName(fresh[end]))) ++end;
        beginInsertRows({}, static_cast<int>(g), static_cast<int>(end - 1));
        // The new groups come with their presets.
        std::vector<PresetGroup> added;
        for (std::size_t i = g; i < end; ++i) {
            added.push_back(PresetGroup{fresh[i].name, std::exchange(fresh[i].presets, {})});
            inserted[i] = true;
        }
        groups_.insert(groups_.begin() + static_cast<std::ptrdiff_t>(g),
                       std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        for (std::size_t i = g; i < end; ++i)
            groupIds_.insert(groupIds_.begin() + static_cast<std::ptrdiff_t>(i), nextGroupId_++);
        renumberGroups();
        endInsertRows();
        g = end;
    }
    return inserted;
}

void PresetTreeModel::updatePresetsOf(int row, std::vector<Preset>& wanted) {
    auto& shown = groups_[static_cast<std::size_t>(row)].presets;
    if (wanted.empty() && shown.empty()) return;
    const QModelIndex parent = groupIndex(row);

    // Each shown row takes the first unclaimed wanted preset of its key
    // (a device may list a name twice); a row is kept only while the kept rows
    // stay in the wanted order, the others are removed and inserted again.
    std::unordered_map<RowKey, std::deque<int>, RowKeyHash> wantedAt;
    wantedAt.reserve(wanted.size());
    for (std::size_t w = 0; w < wanted.size(); ++w) wantedAt[keyOf(wanted[w])].push_back(int(w));
    std::vector<int> target(shown.size(), -1);
    std::vector<bool> kept(wanted.size(), false);
    int lastKept = -1;
    for (std::size_t s = 0; s < shown.size(); ++s) {
        auto found = wantedAt.find(keyOf(shown[s]));
        if (found == wantedAt.end() || found->second.empty()) continue;
        const int w = found->second.front();
        found->second.pop_front();
        if (w < lastKept) continue;
        target[s] = lastKept = w;
        kept[std::size_t(w)] = true;
    }

    forRunsBackwards(
        static_cast<int>(shown.size()), [&](int s) { return target[std::size_t(s)] < 0; },
        [&](int first, int last) {
            beginRemoveRows(parent, first, last);
            shown.erase(shown.begin() + first, shown.begin() + last + 1);
            endRemoveRows();
        });

    // The kept rows are now in the wanted order: insert the rest around them,
    // and note the kept rows whose shown data differs.
    std::vector<int> changed;
    int at = 0;
    for (std::size_t w = 0; w < wanted.size();) {
        if (kept[w]) {
            auto& current = shown[std::size_t(at)];
            if (!(current.preset == wanted[w].preset) || current.preset.version != wanted[w].preset.version) {
                current = std::move(wanted[w]);
                changed.push_back(at);
            }
            ++at;
            ++w;
            continue;
        }
        std::size_t end = w + 1;
        while (end < wanted.size() && !kept[end]) ++end;
        const int count = static_cast<int>(end - w);
        beginInsertRows(parent, at, at + count - 1);
        shown.insert(shown.begin() + at, std::make_move_iterator(wanted.begin() + std::ptrdiff_t(w)),
                     std::make_move_iterator(wanted.begin() + std::ptrdiff_t(end)));
        endInsertRows();
        at += count;
        w = end;
    }
    for (std::size_t c = 0; c < changed.size();) {
        std::size_t end = c + 1;
        while (end < changed.size() && changed[end] == changed[end - 1] + 1) ++end;
        Q_EMIT dataChanged(index(changed[c], 0, parent), index(changed[end - 1], 0, parent));
        c = end;
    }
}

void PresetTreeModel::renumberGroups() {
    rowOfGroup_.clear();
    for (std::size_t g = 0; g < groupIds_.size(); ++g) rowOfGroup_[groupIds_[g]] = static_cast<int>(g);
}

int PresetTreeModel::groupRowOf(quintptr groupId) const {
    const auto found = rowOfGroup_.find(groupId);
    return found == rowOfGroup_.end() ? -1 : found->second;
}

QModelIndex PresetTreeModel::groupIndex(int row) const {
    return createIndex(row, 0, groupRowId);
}

std::vector<Preset> PresetTreeModel::presetsInGroupNamed(const std::string& name) const {
    return zelto::presetsInGroupNamed(groups_, name);
}

const Preset* PresetTreeModel::presetAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.internalId() == groupRowId) return nullptr;
    const int group = groupRowOf(index.internalId());
    if (group < 0) return nullptr;
    const auto& presets = groups_[static_cast<std::size_t>(group)].presets;
    if (index.row() < 0 || static_cast<std::size_t>(index.row()) >= presets.size()) return nullptr;
    return &presets[static_cast<std::size_t>(index.row())];
}

PresetRow PresetTreeModel::rowAt(const QModelIndex& index) const {
    if (const Preset* preset = presetAt(index)) return PresetRow{{}, *preset};
    if (index.isValid() && index.model() == this)
        return PresetRow{groups_.at(static_cast<std::size_t>(index.row())).name, std::nullopt};
    return {};
}

std::vector<PresetRow> PresetTreeModel::affectedRows(const QModelIndexList& selected,
                                                     const QModelIndex& clicked) const {
    std::vector<std::pair<int, int>> order;  // (group row, preset row or -1)
    auto add = [&](const QModelIndex& index) {
        if (!index.isValid() || index.model() != this || index.column() != 0) return;
        if (index.internalId() == groupRowId)
            order.emplace_back(index.row(), -1);
        else if (const int group = groupRowOf(index.internalId()); group >= 0)
            order.emplace_back(group, index.row());
    };
    for (const auto& index : selected) add(index);
    add(clicked);
    std::sort(order.begin(), order.end());
    order.erase(std::unique(order.begin(), order.end()), order.end());

    std::vector<PresetRow> rows;
    for (const auto& [group, row] : order) {
        const auto& g = groups_.at(static_cast<std::size_t>(group));
        if (row < 0)
            rows.push_back(PresetRow{g.name, std::nullopt});
        else
            rows.push_back(PresetRow{{}, g.presets.at(static_cast<std::size_t>(row))});
    }
    return rows;
}

QModelIndex PresetTreeModel::indexOf(const DevicePtr& device, const std::string& presetName) const {
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const auto& presets = groups_[g].presets;
        for (std::size_t p = 0; p < presets.size(); ++p)
            if (presets[p].device == device && presets[p].preset.name == presetName)
                return createIndex(static_cast<int>(p), 0, groupIds_[g]);
    }
    return {};
}

QModelIndex PresetTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) return {};
    if (!parent.isValid()) return createIndex(row, column, groupRowId);
    return createIndex(row, column, groupIds_.at(static_cast<std::size_t>(parent.row())));
}

QModelIndex PresetTreeModel::parent(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == groupRowId) return {};
    const int group = groupRowOf(index.internalId());
    return group < 0 ? QModelIndex() : groupIndex(group);
}

int PresetTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(groups_.size());
    if (parent.column() != 0 || parent.internalId() != groupRowId) return 0;
    return static_cast<int>(groups_.at(static_cast<std::size_t>(parent.row())).presets.size());
}

int PresetTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant PresetTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (const Preset* preset = presetAt(index)) {
        switch (role) {
            case Qt::DisplayRole:
                return qt(presetRowText(*preset, hasMultipleSources_));
            case Qt::ToolTipRole:
                return presetToolTip(*preset);
            case IsGroupRole:
                return false;
            case IsOnDeviceRole:
                return preset->device != nullptr;
            case PresetNameRole:
                return qt(preset->preset.name);
            default:
                return {};
        }
    }
    const auto& group = groups_.at(static_cast<std::size_t>(index.row()));
    switch (role) {
        case Qt::DisplayRole:
            return group.name == othersGroupName
                       ? QCoreApplication::translate("PresetGrouping", othersGroupName)
                       : qt(group.name);
        case Qt::AccessibleDescriptionRole:
            return tr("Group of %n presets", nullptr, static_cast<int>(group.presets.size()));
        case IsGroupRole:
            return true;
        case PresetCountRole:
            return static_cast<int>(group.presets.size());
        default:
            return {};
    }
}

Qt::ItemFlags PresetTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList PresetTreeModel::mimeTypes() const {
    return {QString::fromLatin1(presetDragType)};
}

QMimeData* PresetTreeModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<std::string> items;
    for (const auto& row : affectedRows(indexes, {}))
        items.push_back(row.preset ? presetDragText(*row.preset) : groupDragText(row.groupName));
    return makeDragData(items);
}

QMimeData* PresetTreeModel::makeDragData(const std::vector<std::string>& items) {
    QStringList texts;
    for (const auto& item : items) texts << qt(item);
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    stream << texts;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(presetDragType), encoded);
    return data;
}

std::vector<std::string> PresetTreeModel::dragItems(const QMimeData* data) {
    if (!data) return {};
    QByteArray encoded = data->data(QString::fromLatin1(presetDragType));
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    QStringList texts;
    stream >> texts;
    if (stream.status() != QDataStream::Ok) return {};
    std::vector<std::string> items;
    for (const auto& text : texts) items.push_back(text.toStdString());
    return items;
}

Qt::DropActions PresetTreeModel::supportedDragActions() const {
    return Qt::CopyAction;
}

Qt::DropActions PresetTreeModel::supportedDropActions() const {
    return Qt::IgnoreAction;
}

bool PresetTreeModel::canDropMimeData(const QMimeData*, Qt::DropAction, int, int, const QModelIndex&) const {
    return false;
}

}  // namespace zelto
