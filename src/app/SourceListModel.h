#pragma once

#include <QAbstractListModel>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/DataStore.h"

namespace zelto {

class PresetTreeModel;

// The source list: the local folder and every mixer of the data store, one
// flat row each, in the store's order. It follows the store's signals on a
// later turn of the event loop (never inside the writer's call), inserting
// and removing rows so that the view keeps its selection, and reporting the
// rows whose preset list changed; it is never reset. Reading a row's data
// copies no preset list.
//
// Preset rows dropped onto a source row become copy jobs (see ViewRules.h),
// handed to the copy handler; versions dragged from the history window onto
// a source row go to the restore handler. Drops between rows or on the empty
// area are refused.
// A row's second line ("Mixer · 7 presets") is its Qt::AccessibleDescriptionRole,
// which the view paints and assistive technology reads.
class SourceListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role { IsDeviceRole = Qt::UserRole + 1, PresetCountRole };
    using CopyHandler = std::function<void(std::vector<PresetCopyJob>)>;
    // History version ids and where to put them back (null: the folder).
    using RestoreHandler = std::function<void(std::vector<std::uint64_t>, DevicePtr)>;

    // `presets` gives the groups that a dragged group row stands for.
    SourceListModel(DataStore& store, const PresetTreeModel& presets, QObject* parent = nullptr);

    void setCopyHandler(CopyHandler handler) { copyHandler_ = std::move(handler); }
    void setRestoreHandler(RestoreHandler handler) { restoreHandler_ = std::move(handler); }

    // The name a source is shown by: the local folder's in the user's language.
    static QString displayName(const PresetSource& source);

    PresetSourcePtr sourceAt(int row) const;
    std::vector<PresetSourcePtr> sourcesAt(const std::vector<int>& rows) const;
    const std::vector<PresetSourcePtr>& sources() const { return sources_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

  signals:
    // The preset list of a source changed (deferred like the rows): the
    // preset view should show the selection afresh.
    void presetsChanged();

  private:
    void scheduleSync();
    void syncWithStore();

    DataStore& store_;
    const PresetTreeModel& presets_;
    CopyHandler copyHandler_;
    RestoreHandler restoreHandler_;
    std::vector<PresetSourcePtr> sources_;
    bool syncPending_ = false;
    // The sources whose list changed since the last turn.
    std::vector<PresetSourcePtr> changedSources_;
};

}  // namespace zelto
