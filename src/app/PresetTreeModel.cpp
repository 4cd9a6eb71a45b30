#include "app/PresetTreeModel.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QMimeData>
#include <algorithm>

#include "app/PresetGrouping.h"
#include "device/ZeltoDevice.h"

namespace zelto {

// A group row's internal id is 0; a preset row's is its group's row + 1.
namespace {

constexpr quintptr groupRowId = 0;

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
}

void PresetTreeModel::showPresets(const std::vector<Preset>& presets) {
    beginResetModel();
    hasMultipleSources_ = zelto::hasMultipleSources(presets);
    groups_ = groupPresets(presets);
    endResetModel();
}

std::vector<Preset> PresetTreeModel::presetsInGroupNamed(const std::string& name) const {
    return zelto::presetsInGroupNamed(groups_, name);
}

const Preset* PresetTreeModel::presetAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.internalId() == groupRowId) return nullptr;
    const auto& group = groups_.at(index.internalId() - 1);
    return &group.presets.at(static_cast<std::size_t>(index.row()));
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
        else
            order.emplace_back(static_cast<int>(index.internalId() - 1), index.row());
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
                return createIndex(static_cast<int>(p), 0, quintptr(g + 1));
    }
    return {};
}

QModelIndex PresetTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) return {};
    if (!parent.isValid()) return createIndex(row, column, groupRowId);
    return createIndex(row, column, quintptr(parent.row()) + 1);
}

QModelIndex PresetTreeModel::parent(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == groupRowId) return {};
    return createIndex(static_cast<int>(index.internalId() - 1), 0, groupRowId);
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
