// syncDevices and copyPreset: the parts of the manager that talk to mixers.
#include <algorithm>
#include <asio/cancellation_state.hpp>
#include <asio/this_coro.hpp>
#include <filesystem>
#include <set>
#include <unordered_set>

#include "device/ZeltoDevice.h"
#include "sync/PresetFiles.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

namespace {

bool holdsName(const std::vector<RemoteZeltoPreset>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const RemoteZeltoPreset& p) { return p.name == name; });
}

bool cancelled(const asio::cancellation_state& state) {
    return state.cancelled() != asio::cancellation_type::none;
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

std::string ZeltoPresetManager::matchKey(const std::string& name) {
    RemoteZeltoPreset preset(name);
    while (preset.date) preset = RemoteZeltoPreset(preset.name);
    return preset.name;
}

// Worked out once per list: every name of every other list is asked for.
std::unordered_set<std::string> ZeltoPresetManager::matchKeys(const std::vector<RemoteZeltoPreset>& list) {
    std::unordered_set<std::string> keys;
    for (const auto& preset : list) keys.insert(matchKey(preset.name));
    return keys;
}

bool ZeltoPresetManager::isBuiltInPreset(const std::string& name) {
    auto key = matchKey(name);
    return std::any_of(std::begin(kBuiltInPresets), std::end(kBuiltInPresets),
                       [&](const char* builtIn) { return key == builtIn; });
}

asio::awaitable<std::optional<RemoteZeltoPreset>> ZeltoPresetManager::fetchPreset(DevicePtr device,
                                                                                  RemoteZeltoPreset listed) {
    auto state = co_await asio::this_coro::cancellation_state;
    for (int attempt = 0; attempt <= kFetchRetries; ++attempt) {
        try {
            auto transfer = device->transferPreset(listed.name, timeouts.preset);
            RemoteZeltoPreset fetched = co_await std::move(transfer);
            fetched.name = listed.name;
            if (!fetched.date) fetched.date = listed.date;
            co_return fetched;
        } catch (const PresetSegmentHandlerError& e) {
            if (cancelled(state)) throw;
            if (e.errorCase() != PresetSegmentHandlerError::Case::timeout) break;
        } catch (const std::exception&) {
            if (cancelled(state)) throw;
            break;
        }
    }
    co_return std::nullopt;
}

asio::awaitable<void> ZeltoPresetManager::syncDevices() {
    auto state = co_await asio::this_coro::cancellation_state;
    auto steps = syncSteps();
    try {
        co_await std::move(steps);
    } catch (...) {
        if (delegate) delegate->presetManagerDidFinishSync();
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        throw;
    }
    if (delegate) delegate->presetManagerDidFinishSync();
}

asio::awaitable<void> ZeltoPresetManager::syncSteps() {
    auto state = co_await asio::this_coro::cancellation_state;
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
        send([&](auto& d) { d.presetManagerDidFailReceivingPresetList(local, e); });
        throw;
    }
    send([&](auto& d) { d.presetManagerDidReceivePresetList(localList, local); });

    RequiredPresets deviceLists;
    for (const auto& device : devices) {
        send([&](auto& d) { d.presetManagerWillRequestPresetList(device); });
        std::vector<RemoteZeltoPreset> list;
        try {
            auto request = device->requestPresetList(timeouts.list);
            list = co_await std::move(request);
        } catch (const std::exception& e) {
            if (!cancelled(state))
                send([&](auto& d) { d.presetManagerDidFailReceivingPresetList(device, e); });
            throw;
        }
        std::erase_if(list, [](const RemoteZeltoPreset& p) { return isBuiltInPreset(p.name); });
        send([&](auto& d) { d.presetManagerDidReceivePresetList(list, device); });
        deviceLists.emplace_back(device, std::move(list));
    }

    // The first device (in device order) that lists a name serves it.
    RequiredPresets required;
    std::unordered_set<std::string> chosen;
    for (const auto& [device, list] : deviceLists) {
        std::vector<RemoteZeltoPreset> mine;
        for (const auto& preset : list) {
            if (chosen.insert(matchKey(preset.name)).second) mine.push_back(preset);
        }
        if (!mine.empty()) required.emplace_back(device, std::move(mine));
    }
    send([&](auto& d) { d.presetManagerDidDetermineRequiredPresets(required); });

    std::vector<RemoteZeltoPreset> received;
    const auto localKeys = matchKeys(localList);
    for (const auto& entry : required) {
        const DevicePtr& device = entry.first;
        for (const auto& preset : entry.second) {
            if (localKeys.contains(matchKey(preset.name))) continue;
            send([&](auto& d) { d.presetManagerDidRequestPreset(preset, device); });
            auto fetch = fetchPreset(device, preset);
            auto fetched = co_await std::move(fetch);
            if (!fetched) {
                send([&](auto& d) { d.presetManagerDidFailReceivingPreset(preset, device); });
                continue;
            }
            send([&](auto& d) { d.presetManagerDidReceivePreset(*fetched, device); });
            received.push_back(std::move(*fetched));
        }
    }

    writePresetsToLocal(received);

    send([&](auto& d) { d.presetManagerWillRequestPresetList(local); });
    try {
        localList = localPresetList(localPath_);
    } catch (const std::exception& e) {
        send([&](auto& d) { d.presetManagerDidFailReceivingPresetList(local, e); });
        co_return;
    }
    send([&](auto& d) { d.presetManagerDidReceivePresetList(localList, local); });

    std::vector<std::unordered_set<std::string>> deviceKeys;
    for (const auto& entry : deviceLists) deviceKeys.push_back(matchKeys(entry.second));
    std::set<std::string> pushed;
    for (const auto& listed : localList) {
        auto key = matchKey(listed.name);
        if (isBuiltInPreset(key) || !pushed.insert(key).second) continue;
        RemoteZeltoPreset preset("");
        try {
            preset = loadPresetAtPath(presetfiles::presetFilePath(localPath_, listed.name));
        } catch (const std::exception&) {
            break;
        }
        if (!preset.bytes || preset.bytes->empty()) break;
        // A date at the end of a file name is the preset's date, not part of
        // its name: mixers keep the plain name, without any of the suffixes.
        RemoteZeltoPreset named(listed.name);
        preset.name = key;
        if (named.date) preset.date = named.date;
        for (std::size_t d = 0; d < deviceLists.size(); ++d) {
            const DevicePtr& device = deviceLists[d].first;
            if (deviceKeys[d].contains(key)) continue;
            device->sendPreset(preset, false);
            send([&](auto& d) { d.presetManagerDidSendPreset(preset, device, false); });
        }
    }
}

asio::awaitable<void> ZeltoPresetManager::copyPreset(std::string name, DevicePtr from, DevicePtr to) {
    auto state = co_await asio::this_coro::cancellation_state;
    auto steps = copySteps(std::move(name), std::move(from), std::move(to));
    try {
        co_await std::move(steps);
    } catch (...) {
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        throw;
    }
}

asio::awaitable<void> ZeltoPresetManager::copySteps(std::string name, DevicePtr from, DevicePtr to) {
    if (!from && !to) co_return;
    if (from && to && from == to) co_return;

    for (const auto& device : {from, to}) {
        if (!device) continue;
        try {
            auto connecting = device->connect(timeouts.connect);
            co_await std::move(connecting);
        } catch (const ZeltoDeviceError& e) {
            if (e.errorCase() != ZeltoDeviceError::Case::connectionAlreadyStarted) throw;
        }
    }

    auto listOf = [this](DevicePtr device) -> asio::awaitable<std::vector<RemoteZeltoPreset>> {
        if (!device) co_return localPresetList(localPath_);
        auto request = device->requestPresetList(timeouts.list);
        co_return co_await std::move(request);
    };
    auto sourceRequest = listOf(from);
    auto sourceList = co_await std::move(sourceRequest);
    auto destinationRequest = listOf(to);
    auto destinationList = co_await std::move(destinationRequest);
    auto listed = std::find_if(sourceList.begin(), sourceList.end(),
                               [&](const RemoteZeltoPreset& p) { return p.name == name; });
    if (listed == sourceList.end()) {
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::presetDoesNotExistAtSource);
    }

    RemoteZeltoPreset preset("");
    if (from) {
        auto fetch = fetchPreset(from, *listed);
        auto fetched = co_await std::move(fetch);
        if (!fetched) throw PresetSegmentHandlerError(PresetSegmentHandlerError::Case::timeout);
        preset = std::move(*fetched);
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
