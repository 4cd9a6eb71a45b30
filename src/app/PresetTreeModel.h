#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <unordered_map>
#include <vector>

#include "app/DataStore.h"
#include "app/ViewRules.h"

class QMimeData;

namespace zelto {

// The preset list: group rows at the top level, their presets below (see
// PresetGrouping.h). Rows can be dragged (one item of presetDragType per row)
// but nothing can be dropped here.
//
// A new list changes the rows in place: groups and presets that go are
// removed, those that come are inserted, rows whose text changes are
// reported changed; the model is never reset, so the views keep their
// selection, current row, scroll position and expanded groups. A preset
// whose group changes is removed from the one and inserted into the other.
// Main thread only; nothing here throws beyond allocation.
class PresetTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    // PresetNameRole: a preset row's plain name (its display text may carry the source).
    enum Role { IsGroupRole = Qt::UserRole + 1, IsOnDeviceRole, PresetCountRole, PresetNameRole };

    explicit PresetTreeModel(QObject* parent = nullptr);

    // Shows `presets` grouped, changing the rows in place. A preset row is
    // the same row as long as its device (by identity) and name stay.
    void showPresets(const std::vector<Preset>& presets);
    const std::vector<PresetGroup>& groups() const { return groups_; }
    bool hasMultipleSources() const { return hasMultipleSources_; }
    std::vector<Preset> presetsInGroupNamed(const std::string& name) const;

    PresetRow rowAt(const QModelIndex& index) const;
    // The rows a context-menu command acts on: `selected` and `clicked` (may
    // be invalid), in display order, each once.
    std::vector<PresetRow> affectedRows(const QModelIndexList& selected, const QModelIndex& clicked) const;
    // The index of the preset row showing `preset` of `device`; invalid when none does.
    QModelIndex indexOf(const DevicePtr& device, const std::string& presetName) const;

    // Decodes the items of a drag (one text per dragged row).
    static std::vector<std::string> dragItems(const QMimeData* data);
    // Encodes drag items as mimeData does.
    static QMimeData* makeDragData(const std::vector<std::string>& items);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;

  private:
    const Preset* presetAt(const QModelIndex& index) const;
    // The row of the group that a preset row's internal id names.
    int groupRowOf(quintptr groupId) const;
    QModelIndex groupIndex(int row) const;

    void removeGroupsNotIn(const std::vector<PresetGroup>& fresh);
    // Inserts the groups of `fresh` not shown, taking their presets; true for each.
    std::vector<bool> insertGroupsOf(std::vector<PresetGroup>& fresh);
    // Turns the presets of the group at `row` into `wanted` (same group).
    void updatePresetsOf(int row, std::vector<Preset>& wanted);
    void renumberGroups();

    std::vector<PresetGroup> groups_;
    // A stable id per group row (parallel to groups_), the internal id of its
    // preset rows: rows of other groups may come and go around it.
    std::vector<quintptr> groupIds_;
    std::unordered_map<quintptr, int> rowOfGroup_;
    quintptr nextGroupId_ = 1;
    bool hasMultipleSources_ = false;
};

}  // namespace zelto
