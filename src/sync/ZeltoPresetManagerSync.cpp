// syncDevices and copyPreset: the parts of the manager that talk to mixers.
#include <algorithm>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_state.hpp>
#include <asio/co_spawn.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "async/Log.h"
#include "async/Offload.h"
#include "device/ZeltoDevice.h"
#include "osc/OSCTransportErrors.h"
#include "sync/PresetFiles.h"
#include "sync/SyncPlan.h"
#include "sync/ZeltoPresetManager.h"
#include "async/Log.h"

namespace zelto {

namespace {

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

// What a mixer holds is what was sent: the same bytes, or, for a mixer that
// stores a preset re-encoded, the same document.
bool sameContent(const RemoteZeltoPreset& sent, const RemoteZeltoPreset& held) {
    if (sent.bytes == held.bytes) return true;
    try {
        auto a = sent.parse();
        auto b = held.parse();
        return a && b && *a == *b;
    } catch (const std::exception&) {
        return false;
    }
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

template <class F>
auto ZeltoPresetManager::onFiles(F work) -> asio::awaitable<decltype(work())> {
    if (!fileExecutor) co_return work();
    auto offloaded = offload(*fileExecutor, std::move(work));
    co_return co_await std::move(offloaded);
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
            if (onFetched) onFetched(device, listed, fetched);
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

asio::awaitable<std::vector<RemoteZeltoPreset>> ZeltoPresetManager::requestList(DevicePtr device) {
    auto state = co_await asio::this_coro::cancellation_state;
    for (int attempt = 0;; ++attempt) {
        try {
            auto request = device->requestPresetList(timeouts.list);
            co_return co_await std::move(request);
        } catch (const OSCConnectionError& e) {
            // One lost datagram on a busy network must not end a whole run.
            if (cancelled(state) || e.errorCase() != OSCConnectionError::Case::readTimeout ||
                attempt == kListRetries)
                throw;
        }
    }
}

asio::awaitable<std::vector<std::optional<std::vector<RemoteZeltoPreset>>>> ZeltoPresetManager::listsUntil(
    std::vector<DevicePtr> devices, std::vector<KeysDone> done) {
    using Clock = std::chrono::steady_clock;
    auto state = co_await asio::this_coro::cancellation_state;
    const auto deadline = Clock::now() + timeouts.storeWindow;
    auto pause = timeouts.storePause;
    std::vector<std::optional<std::vector<RemoteZeltoPreset>>> listed(devices.size());
    // Asked no more: its list is what was wanted, or it gave no answer.
    std::vector<bool> settled(devices.size(), false);
    for (;;) {
        for (std::size_t d = 0; d < devices.size(); ++d) {
            if (settled[d]) continue;
            try {
                auto request = requestList(devices[d]);
                listed[d] = co_await std::move(request);
                settled[d] = done[d](matchKeys(*listed[d]));
            } catch (const std::exception& e) {
                if (cancelled(state)) throw;
                // requestList has asked again after a lost answer already.
                logFormat(LogCategory::sync, LogLevel::debug,
                          "no preset list from %s to confirm a change: %s", devices[d]->description().c_str(),
                          e.what());
                settled[d] = true;
            }
        }
        auto now = Clock::now();
        if (std::all_of(settled.begin(), settled.end(), [](bool s) { return s; }) || now >= deadline) break;
        auto wait = std::min<Clock::duration>(pause, deadline - now);
        asio::steady_timer timer(devices.front()->executor(), wait);
        auto waiting = timer.async_wait(asio::use_awaitable);
        co_await std::move(waiting);
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        pause *= 2;
    }
    co_return listed;
}

asio::awaitable<std::optional<std::vector<RemoteZeltoPreset>>> ZeltoPresetManager::listUntil(DevicePtr device,
                                                                                             KeysDone done) {
    auto listing = listsUntil({std::move(device)}, {std::move(done)});
    auto lists = co_await std::move(listing);
    co_return std::move(lists.front());
}

asio::awaitable<std::vector<ZeltoPresetManager::Unconfirmed>> ZeltoPresetManager::unconfirmed(
    DevicePtr device, const std::vector<RemoteZeltoPreset>& sent,
    const std::optional<std::vector<RemoteZeltoPreset>>& found) {
    std::vector<Unconfirmed> result;
    if (!found) {
        for (std::size_t i = 0; i < sent.size(); ++i)
            result.push_back({i, ZeltoPresetManagerError::Case::presetNotStored});
        co_return result;
    }
    const std::vector<RemoteZeltoPreset>& listed = *found;
    const auto keys = matchKeys(listed);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        auto key = matchKey(sent[i].name);
        if (!keys.contains(key)) {
            result.push_back({i, ZeltoPresetManagerError::Case::presetNotStored});
            continue;
        }
        if (!verify) continue;
        auto entry = std::find_if(listed.begin(), listed.end(),
                                  [&](const RemoteZeltoPreset& p) { return matchKey(p.name) == key; });
        auto fetching = fetchPreset(device, *entry);
        auto held = co_await std::move(fetching);
        // What cannot be read back is not known to be stored.
        if (!held)
            result.push_back({i, ZeltoPresetManagerError::Case::presetNotStored});
        else if (!sameContent(sent[i], *held))
            result.push_back({i, ZeltoPresetManagerError::Case::presetStoredDifferently});
    }
    co_return result;
}

asio::awaitable<std::vector<std::vector<ZeltoPresetManager::Unconfirmed>>> ZeltoPresetManager::confirmSends(
    std::vector<SentPresets> sent) {
    const std::size_t count = sent.size();
    std::vector<std::vector<Unconfirmed>> missing(count);
    // Per device, the indices of its presets still to be confirmed.
    std::vector<std::vector<std::size_t>> pending(count);
    for (std::size_t d = 0; d < count; ++d)
        for (std::size_t i = 0; i < sent[d].presets.size(); ++i) pending[d].push_back(i);
    for (int round = 0;; ++round) {
        // Every device of this round shares one store window.
        std::vector<std::size_t> asked;
        std::vector<DevicePtr> devices;
        std::vector<std::vector<RemoteZeltoPreset>> checked;
        for (std::size_t d = 0; d < count; ++d) {
            if (pending[d].empty()) continue;
            asked.push_back(d);
            devices.push_back(sent[d].device);
            checked.emplace_back();
            for (auto index : pending[d]) checked.back().push_back(sent[d].presets[index]);
        }
        if (asked.empty()) co_return missing;
        std::vector<KeysDone> holdsAll;
        for (const auto& presets : checked) {
            holdsAll.push_back([&presets](const std::unordered_set<std::string>& keys) {
                return std::all_of(presets.begin(), presets.end(), [&](const RemoteZeltoPreset& p) {
                    return keys.contains(matchKey(p.name));
                });
            });
        }
        auto listing = listsUntil(devices, std::move(holdsAll));
        auto lists = co_await std::move(listing);
        for (std::size_t a = 0; a < asked.size(); ++a) {
            const std::size_t d = asked[a];
            auto checking = unconfirmed(devices[a], checked[a], lists[a]);
            missing[d] = co_await std::move(checking);
            for (auto& item : missing[d]) item.index = pending[d][item.index];
            pending[d].clear();
            // A mixer that answers no list takes no resend either.
            if (!lists[a] || round == kSendRetries) continue;
            for (const auto& item : missing[d]) {
                const auto& preset = sent[d].presets[item.index];
                pending[d].push_back(item.index);
                if (delegate) delegate->presetManagerWillResendPreset(preset, devices[a]);
                // A mixer keeps one preset per name: the wrong content goes first.
                if (item.why == ZeltoPresetManagerError::Case::presetStoredDifferently)
                    devices[a]->deletePreset(preset.name);
                devices[a]->sendPreset(preset, false);
            }
        }
    }
}

asio::awaitable<std::vector<ZeltoPresetManager::Unconfirmed>> ZeltoPresetManager::confirmSends(
    DevicePtr device, std::vector<RemoteZeltoPreset> presets) {
    auto confirming = confirmSends(std::vector<SentPresets>{{std::move(device), std::move(presets)}});
    auto missing = co_await std::move(confirming);
    co_return std::move(missing.front());
}

asio::awaitable<bool> ZeltoPresetManager::deleteChecked(DevicePtr device, std::string name) {
    const auto key = matchKey(name);
    auto gone = [&key](const std::unordered_set<std::string>& keys) { return !keys.contains(key); };
    for (int attempt = 0; attempt <= kSendRetries; ++attempt) {
        device->deletePreset(name);
        auto listing = listUntil(device, gone);
        auto listed = co_await std::move(listing);
        if (!listed) co_return false;
        if (gone(matchKeys(*listed))) co_return true;
    }
    co_return false;
}

asio::awaitable<void> ZeltoPresetManager::restorePrevious(DevicePtr device, RemoteZeltoPreset previous) {
    const std::string name = previous.name;
    device->deletePreset(name);
    device->sendPreset(previous, false);
    auto confirming = confirmSends(device, {std::move(previous)});
    auto failed = co_await std::move(confirming);
    if (!delegate) co_return;
    if (failed.empty())
        delegate->presetManagerDidRestorePreset(name, device);
    else
        delegate->presetManagerDidFailRestoringPreset(name, device);
}

void ZeltoPresetManager::reportFailedSend(const std::string& name, const DevicePtr& to,
                                          const std::exception& error) {
    ++failedItems_;
    if (delegate) delegate->presetManagerDidFailSendingPreset(name, to, error);
}

asio::awaitable<void> ZeltoPresetManager::syncDevices() {
    auto state = co_await asio::this_coro::cancellation_state;
    failedItems_ = 0;
    beginOperation("sync", "a sync");
    auto steps = syncSteps();
    try {
        co_await std::move(steps);
    } catch (...) {
        if (delegate) delegate->presetManagerDidFinishSync();
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        throw;
    }
    co_await pruneHistory();
    if (delegate) delegate->presetManagerDidFinishSync();
}

asio::awaitable<void> ZeltoPresetManager::syncSteps() {
    auto state = co_await asio::this_coro::cancellation_state;
    auto send = [this](auto&& fn) {
        if (delegate) fn(*delegate);
    };
    const DevicePtr local;
    const std::vector<DevicePtr> devices = distinctDevices(devices_);
    const std::string folder = localPath_;
    auto listFolder = [folder] { return localPresetList(folder); };

    send([&](auto& d) { d.presetManagerWillRequestPresetList(local); });
    auto folderExists = [folder] {
        std::error_code existsError;
        return std::filesystem::exists(folder, existsError);
    };
    auto existsCheck = onFiles(folderExists);
    if (!co_await std::move(existsCheck)) {
        send([&](auto& d) {
            d.presetManagerDidFailReceivingPresetList(
                local, ZeltoPresetManagerError(ZeltoPresetManagerError::Case::localPathDoesNotExist));
        });
    }
    std::vector<RemoteZeltoPreset> localList;
    try {
        auto listing = onFiles(listFolder);
        localList = co_await std::move(listing);
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
            auto request = requestList(device);
            list = co_await std::move(request);
        } catch (const std::exception& e) {
            if (!cancelled(state)) send([&](auto& d) { d.presetManagerDidFailReceivingPresetList(device, e); });
            throw;
        }
        std::erase_if(list, [](const RemoteZeltoPreset& p) { return isBuiltInPreset(p.name); });
        send([&](auto& d) { d.presetManagerDidReceivePresetList(list, device); });
        deviceLists.emplace_back(device, std::move(list));
    }

    // The plan decides every move; the steps below carry it out and nothing else.
    const SyncPlan plan = planSync(localList, deviceLists);
    RequiredPresets required;
    for (const auto& fetch : plan.fetches) {
        if (required.empty() || required.back().first != fetch.from) required.emplace_back(fetch.from, std::vector<RemoteZeltoPreset>{});
        required.back().second.push_back(fetch.preset);
    }
    send([&](auto& d) { d.presetManagerDidDetermineRequiredPresets(required); });
    send([&](auto& d) { d.presetManagerDidPlanSync(plan); });

    std::unordered_set<std::string> unavailable;
    for (const auto& fetch : plan.fetches) {
        const DevicePtr& device = fetch.from;
        send([&](auto& d) { d.presetManagerDidRequestPreset(fetch.preset, device); });
        auto fetching = fetchPreset(device, fetch.preset);
        auto fetched = co_await std::move(fetching);
        if (!fetched) {
            ++failedItems_;
            unavailable.insert(matchKey(fetch.preset.name));
            send([&](auto& d) { d.presetManagerDidFailReceivingPreset(fetch.preset, device); });
            continue;
        }
        send([&](auto& d) { d.presetManagerDidReceivePreset(*fetched, device); });
        auto write = [this, preset = *fetched] { return writePresetToLocal(preset); };
        auto writing = onFiles(write);
        auto outcome = co_await std::move(writing);
        if (!reportWrite(*fetched, outcome)) unavailable.insert(matchKey(fetch.preset.name));
    }

    send([&](auto& d) { d.presetManagerWillRequestPresetList(local); });
    try {
        auto listing = onFiles(listFolder);
        localList = co_await std::move(listing);
    } catch (const std::exception& e) {
        send([&](auto& d) { d.presetManagerDidFailReceivingPresetList(local, e); });
        for (const auto& planned : plan.sends) reportFailedSend(planned.name, planned.to, e);
        co_return;
    }
    send([&](auto& d) { d.presetManagerDidReceivePresetList(localList, local); });

    // Each name's file, by its match key; a preset is loaded once for all devices.
    std::unordered_map<std::string, std::string> fileOf;
    for (const auto& listed : localList) fileOf.try_emplace(matchKey(listed.name), listed.name);
    // What each mixer was sent, kept until it is confirmed.
    std::vector<SentPresets> sentTo;
    std::string loadedKey;
    std::optional<RemoteZeltoPreset> loaded;
    std::exception_ptr loadError;
    for (const auto& planned : plan.sends) {
        auto key = matchKey(planned.name);
        if (key != loadedKey) {
            loadedKey = key;
            loaded.reset();
            loadError = nullptr;
            auto file = fileOf.find(key);
            if (unavailable.contains(key) || file == fileOf.end()) {
                loadError = std::make_exception_ptr(
                    ZeltoPresetManagerError(ZeltoPresetManagerError::Case::presetDoesNotExist));
            } else {
                auto load = [path = presetfiles::presetFilePath(localPath_, file->second)] {
                    return loadPresetAtPath(path);
                };
                try {
                    auto loading = onFiles(load);
                    loaded = co_await std::move(loading);
                    if (!loaded->bytes || loaded->bytes->empty())
                        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::emptyPreset);
                    // A date at the end of a file name is the preset's date, not part
                    // of its name: mixers keep the plain name, without any of the suffixes.
                    RemoteZeltoPreset named(file->second);
                    loaded->name = key;
                    if (named.date) loaded->date = named.date;
                } catch (const std::exception&) {
                    loaded.reset();
                    loadError = std::current_exception();
                }
            }
        }
        if (!loaded) {
            try {
                std::rethrow_exception(loadError);
            } catch (const std::exception& e) {
                reportFailedSend(planned.name, planned.to, e);
            }
            continue;
        }
        planned.to->sendPreset(*loaded, false);
        co_await recordAdded(loaded->name, historyLocation(planned.to));
        send([&](auto& d) { d.presetManagerDidSendPreset(*loaded, planned.to, false); });
        auto sent =
            std::find_if(sentTo.begin(), sentTo.end(), [&](const auto& s) { return s.device == planned.to; });
        if (sent == sentTo.end()) sent = sentTo.insert(sentTo.end(), SentPresets{planned.to, {}});
        sent->presets.push_back(*loaded);
    }

    // A mixer drops a preset that lost a segment without a word: only its list tells.
    auto confirming = confirmSends(sentTo);
    auto failed = co_await std::move(confirming);
    for (std::size_t d = 0; d < sentTo.size(); ++d) {
        for (const auto& item : failed[d]) {
            ++failedItems_;
            send([&](auto& del) {
                del.presetManagerDidFailConfirmingPreset(sentTo[d].presets[item.index].name, sentTo[d].device,
                                                         ZeltoPresetManagerError(item.why));
            });
        }
    }
}

asio::awaitable<void> ZeltoPresetManager::copyPreset(std::string name, DevicePtr from, DevicePtr to) {
    auto state = co_await asio::this_coro::cancellation_state;
    failedItems_ = 0;
    beginOperation("copy", "a copy from " + (from ? historyLocation(from).describe() : std::string("local")));
    auto steps = copySteps(std::move(name), std::move(from), std::move(to));
    try {
        co_await std::move(steps);
    } catch (...) {
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        throw;
    }
    co_await pruneHistory();
}

asio::awaitable<void> ZeltoPresetManager::copySteps(std::string name, DevicePtr from, DevicePtr to) {
    if (!from && !to) co_return;
    if (from && to && from == to) co_return;

    for (const auto& device : {from, to}) {
        if (!device) continue;
        if (!connectsDevices) {
            // The owner keeps the sessions: a mixer that has gone is not reopened
            // behind its back.
            if (!device->connected()) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
            continue;
        }
        try {
            auto connecting = device->connect(timeouts.connect);
            co_await std::move(connecting);
        } catch (const ZeltoDeviceError& e) {
            if (e.errorCase() != ZeltoDeviceError::Case::connectionAlreadyStarted) throw;
        }
    }

    auto listOf = [this](DevicePtr device) -> asio::awaitable<std::vector<RemoteZeltoPreset>> {
        if (!device) {
            auto listing = onFiles([folder = localPath_] { return localPresetList(folder); });
            co_return co_await std::move(listing);
        }
        auto request = requestList(device);
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
        auto load = [this, name] { return loadPreset(name); };
        auto loading = onFiles(load);
        preset = co_await std::move(loading);
    }

    if (!to) {
        auto write = [this, preset] { return writePresetToLocal(preset); };
        auto writing = onFiles(write);
        auto outcome = co_await std::move(writing);
        if (outcome.error) std::rethrow_exception(outcome.error);
        reportWrite(preset, outcome);
        co_return;
    }
    if (!preset.bytes || preset.bytes->empty()) {
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::emptyPreset);
    }
    std::optional<RemoteZeltoPreset> previous;
    std::optional<ZeltoPresetManagerError::Case> failure;
    auto replaced = std::find_if(destinationList.begin(), destinationList.end(),
                                 [&](const RemoteZeltoPreset& p) { return p.name == name; });
    if (replaced != destinationList.end()) {
        // Kept in memory, to be sent back when the new version does not arrive.
        auto keeping = fetchPreset(to, *replaced);
        previous = co_await std::move(keeping);
        // And in the history: without a copy there the copy stops, unless forced.
        auto storing =
            keepDevicePreset(to, *replaced, HistoryEvent::replaced, "replaced by " + source_, previous, true);
        co_await std::move(storing);
        // Gone from the list before the new version is sent: otherwise a lost
        // delete and a lost send would look like a stored preset.
        auto deleting = deleteChecked(to, name);
        bool deleted = co_await std::move(deleting);
        if (!deleted) failure = ZeltoPresetManagerError::Case::presetNotStored;
    }
    if (!failure) {
        to->sendPreset(preset, false);
        auto confirming = confirmSends(to, {preset});
        auto failed = co_await std::move(confirming);
        if (failed.empty()) {
            if (replaced == destinationList.end()) co_await recordAdded(name, historyLocation(to));
            co_return;
        }
        failure = failed.front().why;
    }
    const ZeltoPresetManagerError error(*failure);
    ++failedItems_;
    if (delegate) delegate->presetManagerDidFailConfirmingPreset(preset.name, to, error);
    // Also after a delete that was not confirmed: it may have happened all the same.
    if (previous) {
        auto restoring = restorePrevious(to, std::move(*previous));
        co_await std::move(restoring);
    }
    throw error;
}

asio::awaitable<void> ZeltoPresetManager::connectDevice(const DevicePtr& device) {
    if (!connectsDevices) {
        if (!device->connected()) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
        co_return;
    }
    try {
        auto connecting = device->connect(timeouts.connect);
        co_await std::move(connecting);
    } catch (const ZeltoDeviceError& e) {
        if (e.errorCase() != ZeltoDeviceError::Case::connectionAlreadyStarted) throw;
    }
}

asio::awaitable<void> ZeltoPresetManager::keepDevicePreset(DevicePtr device, RemoteZeltoPreset listed,
                                                           HistoryEvent event, std::string reason,
                                                           std::optional<RemoteZeltoPreset> fetched,
                                                           bool alreadyFetched) {
    if (!keepsHistory) co_return;
    const std::string what = "\"" + listed.name + "\" on " + historyLocation(device).describe();
    if (!alreadyFetched) {
        auto fetch = fetchPreset(device, listed);
        fetched = co_await std::move(fetch);
    }
    if (!fetched || !fetched->bytes || fetched->bytes->empty()) {
        keepFailed(ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cannotKeepOldPreset,
                                           "it could not be fetched"),
                   what);
        co_return;
    }
    auto keep = [this, preset = std::move(*fetched), location = historyLocation(device), event, reason,
                 what]() -> std::exception_ptr {
        try {
            history_->keepBytes(preset.name, location, *preset.bytes, event, reason, operation_, preset.date);
        } catch (const std::exception& e) {
            try {
                keepFailed(e, what);
            } catch (...) {
                return std::current_exception();
            }
        }
        return nullptr;
    };
    auto keeping = onFiles(keep);
    if (auto error = co_await std::move(keeping)) std::rethrow_exception(error);
}

asio::awaitable<void> ZeltoPresetManager::recordAdded(std::string name, HistoryLocation location) {
    if (!keepsHistory) co_return;
    auto record = [this, name, location] {
        try {
            history_->recordAdded(name, location, "added by " + source_, operation_);
        } catch (const std::exception& e) {
            logFormat(LogCategory::sync, LogLevel::critical, "history: the added preset %s is not recorded: %s",
                      name.c_str(), e.what());
        }
        return 0;
    };
    auto recording = onFiles(record);
    co_await std::move(recording);
}

asio::awaitable<void> ZeltoPresetManager::pruneHistory() {
    if (!keepsHistory) co_return;
    auto prune = [this] {
        try {
            return history_->prune();
        } catch (const std::exception&) {
            return std::size_t(0);  // reported by the history; the run is done
        }
    };
    auto pruning = onFiles(prune);
    co_await std::move(pruning);
}

asio::awaitable<void> ZeltoPresetManager::putOnDevice(RemoteZeltoPreset preset, DevicePtr to,
                                                      std::string replacedReason) {
    if (!preset.bytes || preset.bytes->empty())
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::emptyPreset);
    auto listing = requestList(to);
    auto list = co_await std::move(listing);
    auto held = std::find_if(list.begin(), list.end(), [&](const RemoteZeltoPreset& p) { return p.name == preset.name; });
    if (held != list.end()) {
        co_await keepDevicePreset(to, *held, HistoryEvent::replaced, replacedReason);
        to->deletePreset(preset.name);
    }
    to->sendPreset(preset, false);
    if (held == list.end()) co_await recordAdded(preset.name, historyLocation(to));
}

asio::awaitable<void> ZeltoPresetManager::deleteOnDevice(std::string name, DevicePtr device) {
    if (!undoing_ && !groupedDeletes_) beginOperation("delete", "a delete");
    auto connecting = connectDevice(device);
    co_await std::move(connecting);
    auto listing = requestList(device);
    auto list = co_await std::move(listing);
    auto held = std::find_if(list.begin(), list.end(), [&](const RemoteZeltoPreset& p) { return p.name == name; });
    if (held == list.end()) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::presetDoesNotExist);
    co_await keepDevicePreset(device, *held, HistoryEvent::deleted,
                              undoing_ ? "deleted by an undo" : "deleted");
    device->deletePreset(name);
    if (!undoing_) co_await pruneHistory();
}

asio::awaitable<void> ZeltoPresetManager::restorePreset(HistoryEntry entry, DevicePtr to) {
    if (!undoing_) beginOperation("restore", "a restore of version " + std::to_string(entry.id));
    if (!to) {
        auto restore = [this, entry] { history_->restoreToFolder(entry, operation_); return 0; };
        auto restoring = onFiles(restore);
        co_await std::move(restoring);
        co_return;
    }
    auto read = [this, entry] { return history_->bytesOf(entry); };
    auto reading = onFiles(read);
    RemoteZeltoPreset preset("");
    preset.name = entry.name;
    preset.date = entry.presetDate;
    preset.bytes = co_await std::move(reading);
    auto connecting = connectDevice(to);
    co_await std::move(connecting);
    auto putting = putOnDevice(std::move(preset), to, "replaced by a restore of version " + std::to_string(entry.id));
    co_await std::move(putting);
}

asio::awaitable<std::optional<HistoryOperation>> ZeltoPresetManager::undoLastOperation(
    std::optional<std::string> operationId) {
    auto find = [this, operationId] {
        std::optional<std::pair<HistoryOperation, std::vector<HistoryEntry>>> found;
        if (operationId) {
            auto entries = history_->entriesOf(*operationId);
            if (!entries.empty()) found.emplace(entries.front().operation, std::move(entries));
        } else if (auto op = history_->lastOperation()) {
            found.emplace(*op, history_->entriesOf(op->id));
        }
        return found;
    };
    auto finding = onFiles(find);
    auto found = co_await std::move(finding);
    if (!found) co_return std::nullopt;
    auto& [undone, entries] = *found;
    beginOperation("undo", "an undo of " + undone.kind + " " + undone.id, undone.id);
    struct Undoing {
        bool& flag;
        ~Undoing() { flag = false; }
    } undoing{undoing_ = true};
    std::vector<std::string> missed;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const HistoryEntry& entry = *it;
        DevicePtr device;
        if (entry.location.mixer) {
            for (const auto& d : devices_) {
                if (d && historyLocation(d).sameAs(entry.location)) device = d;
            }
            if (!device) {
                missed.push_back(entry.name + " on " + entry.location.describe() + " (not among the mixers)");
                continue;
            }
        }
        try {
            if (entry.holdsBytes()) {
                auto restoring = restorePreset(entry, device);
                co_await std::move(restoring);
            } else if (device) {
                auto deleting = deleteOnDevice(entry.name, device);
                co_await std::move(deleting);
            } else {
                auto remove = [this, name = entry.name]() -> std::exception_ptr {
                    try {
                        deleteLocalPreset(name);
                    } catch (const std::filesystem::filesystem_error&) {
                        // Already gone: nothing to undo.
                    } catch (...) {
                        return std::current_exception();
                    }
                    return nullptr;
                };
                auto removing = onFiles(remove);
                if (auto error = co_await std::move(removing)) std::rethrow_exception(error);
            }
        } catch (const ZeltoPresetManagerError& e) {
            if (e.errorCase() == ZeltoPresetManagerError::Case::cannotKeepOldPreset ||
                e.errorCase() == ZeltoPresetManagerError::Case::cancelled)
                throw;
            if (e.errorCase() != ZeltoPresetManagerError::Case::presetDoesNotExist)
                missed.push_back(entry.name + " on " + entry.location.describe() + " (" + e.what() + ")");
        } catch (const std::exception& e) {
            missed.push_back(entry.name + " on " + entry.location.describe() + " (" + e.what() + ")");
        }
    }
    co_await pruneHistory();
    if (!missed.empty()) {
        std::string detail = "not undone:";
        for (auto& m : missed) detail += " " + m + ";";
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::undoIncomplete, detail);
    }
    co_return undone;
}

}  // namespace zelto
