#pragma once

#include <QObject>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "device/RemoteZeltoPreset.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

// Where presets live: the local sync folder (no device) or one connected mixer.
// Compared by identity. Its name and device never change.
class PresetSource {
  public:
    PresetSource(std::string name, DevicePtr device, std::vector<RemoteZeltoPreset> presets = {});
    PresetSource(const PresetSource&) = delete;
    PresetSource& operator=(const PresetSource&) = delete;

    const std::string& name() const { return name_; }
    // Null for the local sync folder.
    const DevicePtr& device() const { return device_; }
    // A copy of the list last read from the source, in its order.
    std::vector<RemoteZeltoPreset> presets() const;
    // The length of that list, without copying it.
    std::size_t presetCount() const;
    // How many lists presets() copied in this process (tests check that the
    // views' painting copies none).
    static std::uint64_t listCopies();

  private:
    friend class DataStore;
    void setPresets(std::vector<RemoteZeltoPreset> presets);

    const std::string name_;
    const DevicePtr device_;
    mutable std::shared_mutex mutex_;
    std::vector<RemoteZeltoPreset> presets_;
};

using PresetSourcePtr = std::shared_ptr<PresetSource>;

// One row of the preset view. A null device is the local sync folder.
struct Preset {
    DevicePtr device;
    RemoteZeltoPreset preset;
};

struct PresetGroup {
    std::string name;
    std::vector<Preset> presets;
};

// One copy asked for by a drop or a menu; a null device is the local sync
// folder. A job that cannot be done carries the reason in `problem`: the run
// reports it as a failed item instead of copying.
struct PresetCopyJob {
    DevicePtr from;
    DevicePtr to;
    std::string presetName;
    std::string problem = {};
};

// The application's model of sources and their preset lists. Writers are the
// controller and the settings, on the main thread; anyone may read.
//
// The signals are emitted on the writer's thread, synchronously, after the
// store's lock is released (a receiver may read `sources()` at once).
// "DataStoreSourceRemoved" comes before the source leaves `sources()`.
class DataStore : public QObject {
    Q_OBJECT
  public:
    // The local source's name; the views show it translated (this context).
    static constexpr const char* localSourceName = QT_TRANSLATE_NOOP("zelto::DataStore", "Zelto App (local)");

    explicit DataStore(QObject* parent = nullptr);
    // The process-wide store, made on first use.
    static DataStore& shared();

    // A copy of all sources, in insertion order.
    std::vector<PresetSourcePtr> sources() const;
    // The local folder's source, if there is one.
    PresetSourcePtr localSource() const;

    void addSource(PresetSourcePtr source);
    // Replaces the list of every source whose device is `device` (the same
    // object; both null for the local folder), one signal per source.
    void setPresets(std::vector<RemoteZeltoPreset> presets, const DevicePtr& device);
    // The local folder's list: replaces it, or adds the local source when
    // there is none yet (its list could not be read at start-up).
    void setLocalPresets(std::vector<RemoteZeltoPreset> presets);
    // Removes every source of `device`; the local source is never removed.
    void removeSources(const DevicePtr& device);

  signals:
    void DataStoreSourceAdded(std::shared_ptr<zelto::PresetSource> source);
    void DataStoreSourceRemoved(std::shared_ptr<zelto::PresetSource> source);
    void PresetSourcePresetsAdded(std::shared_ptr<zelto::PresetSource> source);

  private:
    mutable std::shared_mutex mutex_;
    std::vector<PresetSourcePtr> sources_;
};

}  // namespace zelto

Q_DECLARE_METATYPE(std::shared_ptr<zelto::PresetSource>)
