#pragma once

// The history window's list: one row per preset name (sorted, case
// insensitive; its first column names it and counts its versions), its kept
// versions below it, newest first, in three columns:
// when (local time), where (the sync folder or a mixer) and why. Entries
// that keep no bytes (what an operation added, for undo) are not listed.
//
// A version row can be dragged (see versionDragType) onto a source to be
// restored there. The listing comes from MainController::readHistory; a
// history that could not be read is no rows and a problem text.
//
// Main thread only; no errors are thrown.
#include <QAbstractItemModel>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sync/History.h"

class QMimeData;

namespace zelto {

// The history of the sync folder as read at one moment.
struct HistoryListing {
    std::vector<HistoryEntry> entries;  // oldest first
    std::size_t damagedLines = 0;
    std::optional<std::string> error;  // why it could not be read at all
};

class HistoryModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    enum Column { whenColumn = 0, whereColumn, whyColumn, columns };
    enum Role { EntryIdRole = Qt::UserRole + 1, IsNameRole };
    static constexpr const char* versionDragType = "application/x-zelto-history-versions";

    explicit HistoryModel(QObject* parent = nullptr);

    void setListing(HistoryListing listing);
    // For people: why the history shows nothing or not everything (a
    // damaged or foreign history); empty when all is well.
    const QString& problem() const { return problem_; }
    // The version of a version row (any column); none for a name row.
    std::optional<HistoryEntry> entryAt(const QModelIndex& index) const;
    std::optional<HistoryEntry> entry(std::uint64_t id) const;
    // The index of a version row's first column; invalid when not listed.
    QModelIndex indexOf(std::uint64_t id) const;

    // The version ids that a drag carries.
    static std::vector<std::uint64_t> draggedVersions(const QMimeData* data);
    // How the window names a place and a reason.
    static QString whereText(const HistoryLocation& location);
    static QString whyText(const HistoryEntry& entry);
    static QString whenText(std::chrono::system_clock::time_point time);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

  private:
    struct Group {
        std::string name;
        std::vector<HistoryEntry> versions;  // newest first
    };
    std::vector<Group> groups_;
    QString problem_;
};

}  // namespace zelto
