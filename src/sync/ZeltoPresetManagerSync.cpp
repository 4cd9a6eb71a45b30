// syncDevices and copyPreset: the parts of the manager that talk to mixers.
#include <algorithm>
#include <filesystem>
#include <set>
#include <unordered_set>

#include "device/ZeltoDevice.h"
#include "sync/PresetFiles.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

namespace {

bool isBuiltIn(const RemoteZeltoPreset& preset) {
    for (const char* name : ZeltoPresetManager::kBuiltInPresets) {
        if (preset.name == name) return true;
    }
    return false;
}

bool holdsName(const std::vector<RemoteZeltoPreset>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const RemoteZeltoPreset& p) { return p.name == name; });
}

// The same mixer may be listed twice (two discoveries of one device, or the
// same object twice); it is synchronised once.
std::vector<DevicePtr> distinctDevices(const std::vector<DevicePtr>& devices) {
    std::vector<DevicePtr> result;
    for (const auto& device : devices) {
        if (!device) continue;
        bool seen = std::any_of(result.begin(), result.end(),
                                [&](const DevicePtr& d) { return d == device || *d == *device; });
        if (!seen) result.push_back(device);
    }
    return result;
}

}  // namespace

asio::awaitable<std::optional<RemoteZeltoPreset>> ZeltoPresetManager::fetchPreset(DevicePtr device,
                                                                                  RemoteZeltoPreset preset) {
    for (int attempt = 0; attempt <= kFetchRetries; ++attempt) {
        try {
            co_return co_await device->transferPreset(preset.name, timeouts.preset);
        } catch (const PresetSegmentHandlerError& e) {
            if (e.errorCase() != PresetSegmentHandlerError::Case::timeout) break;
        } catch (const std::exception&) {
            break;
        }
    }
    co_return std::nullopt;
}

asio::awaitable<void> ZeltoPresetManager::syncDevices() {
    auto send = [this](auto&& fn) {
        if (delegate) fn(*delegate);
    };
    const DevicePtr local;
    const std::vector<DevicePtr> devices = distinctDevices(devices_);

    send([&](auto& d) { d.presetManagerWillRequestPresetList(local); });
    std::error_code existsError;
    if (!std::filesystem::exists(localPath_, existsError)) {
        send([&](auto& d) {
            d.presetManagerDidFailReceivingPresetList(
                local, ZeltoPresetManagerError(ZeltoPresetManagerError::Case::localPathDoesNotExist));
        });
    }
    std::vector<RemoteZeltoPreset> localList;
    try {
        localList = localPresetList(localPath_);
    } catch (const std::exception& e) {
        send([&](auto& d) {
            d.presetManagerDidFailReceivingPresetList(local, e);
            d.presetManagerDidFinishSync();
        });
        throw;
    }
    send([&](auto& d) { d.presetManagerDidReceivePresetList(localList, local); });

    RequiredPresets deviceLists;
    for (const auto& device : devices) {
        send([&](auto& d) { d.presetManagerWillRequestPresetList(device); });
        std::vector<RemoteZeltoPreset> list;
        try {
            list = co_await device->requestPresetList(timeouts.list);
        } catch (const std::exception& e) {
            send([&](auto& d) {
                d.presetManagerDidFailReceivingPresetList(device, e);
                d.presetManagerDidFinishSync();
            });
            throw;
        }
        std::erase_if(list, isBuiltIn);
        send([&](auto& d) { d.presetManagerDidReceivePresetList(list, device); });
        deviceLists.emplace_back(device, std::move(list));
    }

    // The first device (in device order) that lists a name serves it.
    RequiredPresets required;
    std::unordered_set<std::string> chosen;
    for (const auto& [device, list] : deviceLists) {
        std::vector<RemoteZeltoPreset> mine;
        for (const auto& preset : list) {
            if (chosen.insert(preset.name).second) mine.push_back(preset);
        }
        if (!mine.empty()) required.emplace_back(device, std::move(mine));
    }
    send([&](auto& d) { d.presetManagerDidDetermineRequiredPresets(required); });

    std::vector<RemoteZeltoPreset> received;
    for (const auto& entry : required) {
        const DevicePtr& device = entry.first;
        for (const auto& preset : entry.second) {
            if (holdsName(localList, preset.name)) continue;
            send([&](auto& d) { d.presetManagerDidRequestPreset(preset, device); });
            auto fetched = co_await fetchPreset(device, preset);
            if (!fetched) {
                send([&](auto& d) { d.presetManagerDidFailReceivingPreset(preset, device); });
                continue;
            }
            send([&](auto& d) { d.presetManagerDidReceivePreset(*fetched, device); });
            received.push_back(std::move(*fetched));
        }
    }

    try {
        writePresetsToLocal(received);
    } catch (...) {
        send([&](auto& d) { d.presetManagerDidFinishSync(); });
        throw;
    }

    send([&](auto& d) { d.presetManagerWillRequestPresetList(local); });
    try {
        localList = localPresetList(localPath_);
    } catch (const std::exception& e) {
        send([&](auto& d) {
            d.presetManagerDidFailReceivingPresetList(local, e);
            d.presetManagerDidFinishSync();
        });
        co_return;
    }
    send([&](auto& d) { d.presetManagerDidReceivePresetList(localList, local); });

    for (const auto& listed : localList) {
        RemoteZeltoPreset preset("");
        try {
            preset = loadPresetAtPath(presetfiles::presetFilePath(localPath_, listed.name));
        } catch (const std::exception&) {
            break;
        }
        if (!preset.bytes || preset.bytes->empty()) break;
        for (const auto& entry : deviceLists) {
            const DevicePtr& device = entry.first;
            if (holdsName(entry.second, preset.name)) continue;
            device->sendPreset(preset, false);
            send([&](auto& d) { d.presetManagerDidSendPreset(preset, device, false); });
        }
    }
    send([&](auto& d) { d.presetManagerDidFinishSync(); });
}

asio::awaitable<void> ZeltoPresetManager::copyPreset(std::string name, DevicePtr from, DevicePtr to) {
    if (!from && !to) co_return;
    if (from && to && from == to) co_return;

    for (const auto& device : {from, to}) {
        if (!device) continue;
        try {
            co_await device->connect(timeouts.connect);
        } catch (const ZeltoDeviceError& e) {
            if (e.errorCase() != ZeltoDeviceError::Case::connectionAlreadyStarted) throw;
        }
    }

    auto listOf = [this](DevicePtr device) -> asio::awaitable<std::vector<RemoteZeltoPreset>> {
        if (device) co_return co_await device->requestPresetList(timeouts.list);
        co_return localPresetList(localPath_);
    };
    auto sourceList = co_await listOf(from);
    auto destinationList = co_await listOf(to);
    if (!holdsName(sourceList, name)) {
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::presetDoesNotExistAtSource);
    }

    RemoteZeltoPreset preset("");
    if (from) {
        RemoteZeltoPreset wanted("");
        wanted.name = name;
        auto fetched = co_await fetchPreset(from, wanted);
        if (!fetched) throw PresetSegmentHandlerError(PresetSegmentHandlerError::Case::timeout);
        preset = std::move(*fetched);
        // The preset is put under the name that was asked for.
        preset.name = name;
    } else {
        preset = loadPreset(name);
    }

    if (!to) {
        writePresetsToLocal({preset});
        co_return;
    }
    if (!preset.bytes || preset.bytes->empty()) {
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::emptyPreset);
    }
    if (holdsName(destinationList, name)) to->deletePreset(name);
    to->sendPreset(preset, false);
}

}  // namespace zelto
