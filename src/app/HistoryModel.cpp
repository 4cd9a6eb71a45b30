#include "app/HistoryModel.h"

#include <QDateTime>
#include <QLocale>
#include <QMimeData>
#include <algorithm>
#include <map>

namespace zelto {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// A name row's internal id; a version row's is its group's index + 1.
constexpr quintptr kNameRow = 0;

}  // namespace

HistoryModel::HistoryModel(QObject* parent) : QAbstractItemModel(parent) {}

void HistoryModel::setListing(HistoryListing listing) {
    beginResetModel();
    groups_.clear();
    problem_.clear();
    if (listing.error) {
        problem_ = tr("The history of the sync folder cannot be read: %1.").arg(qt(*listing.error)) +
                   QLatin1Char('\n') +
                   tr("Nothing in it is changed. A copy or delete that would replace or delete a preset asks "
                      "before it goes on without keeping a copy.");
    } else if (listing.damagedLines == 1) {
        problem_ = tr("The history is damaged: one of its entries cannot be read and is not shown.");
    } else if (listing.damagedLines > 1) {
        problem_ = tr("The history is damaged: %1 of its entries cannot be read and are not shown.")
                       .arg(listing.damagedLines);
    }
    std::map<QString, Group> byName;
    for (auto& entry : listing.entries) {
        if (!entry.holdsBytes()) continue;
        auto& group = byName[qt(entry.name).toCaseFolded() + QChar(0) + qt(entry.name)];
        group.name = entry.name;
        group.versions.push_back(std::move(entry));
    }
    for (auto& [key, group] : byName) {
        std::reverse(group.versions.begin(), group.versions.end());
        groups_.push_back(std::move(group));
    }
    endResetModel();
}

std::optional<HistoryEntry> HistoryModel::entryAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.internalId() == kNameRow) return std::nullopt;
    const auto& group = groups_[index.internalId() - 1];
    return group.versions[static_cast<std::size_t>(index.row())];
}

std::optional<HistoryEntry> HistoryModel::entry(std::uint64_t id) const {
    for (const auto& group : groups_)
        for (const auto& version : group.versions)
            if (version.id == id) return version;
    return std::nullopt;
}

QModelIndex HistoryModel::indexOf(std::uint64_t id) const {
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const auto& versions = groups_[g].versions;
        for (std::size_t v = 0; v < versions.size(); ++v)
            if (versions[v].id == id) return createIndex(static_cast<int>(v), 0, quintptr(g + 1));
    }
    return {};
}

std::vector<std::uint64_t> HistoryModel::draggedVersions(const QMimeData* data) {
    std::vector<std::uint64_t> ids;
    if (!data) return ids;
    const QString text = QString::fromLatin1(data->data(QString::fromLatin1(versionDragType)));
    for (const auto& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        const auto id = part.toULongLong(&ok);
        if (ok) ids.push_back(id);
    }
    return ids;
}

QString HistoryModel::whereText(const HistoryLocation& location) {
    if (!location.mixer) return tr("sync folder");
    const QString name = qt(location.name.empty() ? location.address : location.name);
    if (location.serial.empty()) return tr("mixer %1").arg(name);
    return tr("mixer %1 (serial %2)").arg(name, qt(location.serial));
}

QString HistoryModel::whyText(const HistoryEntry& entry) {
    // The reasons are recorded in one language by whichever program kept
    // the version; the known ones are shown in the user's.
    const std::string& reason = entry.reason;
    auto rest = [&](std::string_view prefix) -> std::optional<QString> {
        if (!reason.starts_with(prefix)) return std::nullopt;
        return qt(reason.substr(prefix.size()));
    };
    if (reason == "deleted") return tr("deleted");
    if (reason == "deleted by an undo") return tr("deleted by an undo");
    if (reason == "replaced by a copy from local") return tr("replaced by a copy from the sync folder");
    if (auto from = rest("replaced by a copy from mixer ")) return tr("replaced by a copy from mixer %1").arg(*from);
    if (auto version = rest("replaced by a restore of version ")) return tr("replaced by restoring version %1").arg(*version);
    if (reason.starts_with("replaced by a sync")) return tr("replaced by a sync");
    if (reason.starts_with("replaced by an undo")) return tr("replaced by an undo");
    if (!reason.empty()) return qt(reason);
    return entry.event == HistoryEvent::deleted ? tr("deleted") : tr("replaced");
}

QString HistoryModel::whenText(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), QStringLiteral("HH:mm:ss"));
}

QModelIndex HistoryModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columns) return {};
    if (!parent.isValid()) {
        if (static_cast<std::size_t>(row) >= groups_.size()) return {};
        return createIndex(row, column, kNameRow);
    }
    if (parent.internalId() != kNameRow) return {};
    const auto& group = groups_[static_cast<std::size_t>(parent.row())];
    if (static_cast<std::size_t>(row) >= group.versions.size()) return {};
    return createIndex(row, column, quintptr(parent.row() + 1));
}

QModelIndex HistoryModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kNameRow) return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kNameRow);
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(groups_.size());
    if (parent.column() != 0 || parent.internalId() != kNameRow) return 0;
    return static_cast<int>(groups_[static_cast<std::size_t>(parent.row())].versions.size());
}

int HistoryModel::columnCount(const QModelIndex&) const {
    return columns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (index.internalId() == kNameRow) {
        const auto& group = groups_[static_cast<std::size_t>(index.row())];
        if (role == IsNameRole) return true;
        if (role != Qt::DisplayRole || index.column() != whenColumn) return {};
        const QString count =
            group.versions.size() == 1 ? tr("1 version") : tr("%1 versions").arg(group.versions.size());
        return tr("%1 · %2").arg(qt(group.name), count);
    }
    const auto entry = entryAt(index);
    if (role == EntryIdRole) return QVariant::fromValue<qulonglong>(entry->id);
    if (role == IsNameRole) return false;
    if (role == Qt::ToolTipRole)
        return tr("Version %1 of %2, %3 bytes").arg(entry->id).arg(qt(entry->name)).arg(entry->size);
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case whenColumn:
            return whenText(entry->time);
        case whereColumn:
            return whereText(entry->location);
        case whyColumn:
            return whyText(*entry);
        default:
            return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case whenColumn:
            return tr("Preset / When");
        case whereColumn:
            return tr("Where");
        case whyColumn:
            return tr("Why");
        default:
            return {};
    }
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (index.internalId() == kNameRow) return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QStringList HistoryModel::mimeTypes() const {
    return {QString::fromLatin1(versionDragType)};
}

QMimeData* HistoryModel::mimeData(const QModelIndexList& indexes) const {
    QStringList ids;
    for (const auto& index : indexes) {
        if (index.column() != 0) continue;
        if (auto entry = entryAt(index)) ids << QString::number(entry->id);
    }
    if (ids.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(versionDragType), ids.join(QLatin1Char(' ')).toLatin1());
    return data;
}

Qt::DropActions HistoryModel::supportedDragActions() const {
    return Qt::CopyAction;
}

}  // namespace zelto
