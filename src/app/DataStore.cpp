#include "app/DataStore.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace zelto {

namespace {
std::atomic<std::uint64_t> listCopiesMade{0};
}

PresetSource::PresetSource(std::string name, DevicePtr device, std::vector<RemoteZeltoPreset> presets)
    : name_(std::move(name)), device_(std::move(device)), presets_(std::move(presets)) {}

std::vector<RemoteZeltoPreset> PresetSource::presets() const {
    listCopiesMade.fetch_add(1, std::memory_order_relaxed);
    std::shared_lock lock(mutex_);
    return presets_;
}

std::size_t PresetSource::presetCount() const {
    std::shared_lock lock(mutex_);
    return presets_.size();
}

std::uint64_t PresetSource::listCopies() {
    return listCopiesMade.load(std::memory_order_relaxed);
}

void PresetSource::setPresets(std::vector<RemoteZeltoPreset> presets) {
    std::unique_lock lock(mutex_);
    presets_ = std::move(presets);
}

DataStore::DataStore(QObject* parent) : QObject(parent) {
    qRegisterMetaType<std::shared_ptr<PresetSource>>();
}

DataStore& DataStore::shared() {
    static DataStore* store = new DataStore;  // lives until the process ends
    return *store;
}

std::vector<PresetSourcePtr> DataStore::sources() const {
    std::shared_lock lock(mutex_);
    return sources_;
}

PresetSourcePtr DataStore::localSource() const {
    std::shared_lock lock(mutex_);
    for (const auto& source : sources_) {
        if (!source->device()) return source;
    }
    return nullptr;
}

void DataStore::addSource(PresetSourcePtr source) {
    {
        std::unique_lock lock(mutex_);
        sources_.push_back(source);
    }
    emit DataStoreSourceAdded(source);
}

void DataStore::setPresets(std::vector<RemoteZeltoPreset> presets, const DevicePtr& device) {
    std::vector<PresetSourcePtr> updated;
    {
        // Store lock, then source lock: the one order both are taken in.
        std::shared_lock lock(mutex_);
        for (const auto& source : sources_) {
            if (source->device() != device) continue;
            source->setPresets(presets);
            updated.push_back(source);
        }
    }
    for (const auto& source : updated) emit PresetSourcePresetsAdded(source);
}

void DataStore::setLocalPresets(std::vector<RemoteZeltoPreset> presets) {
    if (localSource()) {
        setPresets(std::move(presets), nullptr);
    } else {
        addSource(std::make_shared<PresetSource>(localSourceName, nullptr, std::move(presets)));
    }
}

void DataStore::removeSources(const DevicePtr& device) {
    if (!device) return;
    std::vector<PresetSourcePtr> matching;
    for (const auto& source : sources()) {
        if (source->device() == device) matching.push_back(source);
    }
    if (matching.empty()) return;
    for (const auto& source : matching) emit DataStoreSourceRemoved(source);
    std::unique_lock lock(mutex_);
    std::erase_if(sources_, [&](const PresetSourcePtr& s) {
        return std::find(matching.begin(), matching.end(), s) != matching.end();
    });
}

}  // namespace zelto
