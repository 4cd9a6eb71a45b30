#include "compare/PresetComparer.h"

#include <algorithm>
#include <asio/this_coro.hpp>

#include "async/Offload.h"
#include "compare/FetchRecording.h"
#include "device/ZeltoDevice.h"

namespace zelto {

namespace {

bool cancelled(const asio::cancellation_state& state) {
    return state.cancelled() != asio::cancellation_type::none;
}

std::vector<RemoteZeltoPreset> presetsOf(const std::vector<ListedPreset>& list) {
    std::vector<RemoteZeltoPreset> presets;
    presets.reserve(list.size());
    for (const auto& listed : list) presets.push_back(listed.preset);
    return presets;
}

}  // namespace

PresetComparer::PresetComparer(ZeltoPresetManager& manager, std::shared_ptr<MixerFingerprintCache> mixerCache,
                               std::shared_ptr<FolderFingerprints> folderCache)
    : manager_(manager), mixerCache_(std::move(mixerCache)), folderCache_(std::move(folderCache)) {}

template <class F>
auto PresetComparer::onFiles(F work) -> asio::awaitable<decltype(work())> {
    if (!manager_.fileExecutor) co_return work();
    auto offloaded = offload(*manager_.fileExecutor, std::move(work));
    co_return co_await std::move(offloaded);
}

asio::awaitable<CompareResult> PresetComparer::compare() {
    auto state = co_await asio::this_coro::cancellation_state;
    std::exception_ptr error;
    CompareResult result;
    try {
        auto running = steps();
        result = co_await std::move(running);
    } catch (...) {
        error = std::current_exception();
    }
    // What was fetched stays useful, whatever became of the run.
    auto saving = onFiles([cache = mixerCache_] { return cache->save(); });
    co_await std::move(saving);
    if (error) {
        if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        std::rethrow_exception(error);
    }
    co_return result;
}

asio::awaitable<CompareResult> PresetComparer::steps() {
    auto state = co_await asio::this_coro::cancellation_state;
    auto send = [this](auto&& fn) {
        if (delegate) fn(*delegate);
    };
    const DevicePtr folderSource;
    CompareResult result;

    send([&](auto& d) { d.comparerWillRequestList(folderSource); });
    std::vector<ListedPreset> folder;
    try {
        auto listing =
            onFiles([cache = folderCache_, path = manager_.localPath()] { return cache->list(path); });
        folder = co_await std::move(listing);
    } catch (const std::exception& e) {
        send([&](auto& d) { d.comparerDidFailReceivingList(folderSource, e); });
        throw;
    }
    send([&](auto& d) { d.comparerDidReceiveList(folder, folderSource); });

    std::vector<SourceListing> mixers;
    for (const auto& device : manager_.devices()) {
        if (!device || std::any_of(mixers.begin(), mixers.end(), [&](const SourceListing& m) {
                return m.device == device || *m.device == *device;
            }))
            continue;
        send([&](auto& d) { d.comparerWillRequestList(device); });
        std::vector<RemoteZeltoPreset> list;
        try {
            auto request = manager_.requestList(device);
            list = co_await std::move(request);
        } catch (const std::exception& e) {
            if (cancelled(state)) throw;
            send([&](auto& d) { d.comparerDidFailReceivingList(device, e); });
            result.unlisted.push_back(device);
            continue;
        }
        std::erase_if(list,
                      [](const RemoteZeltoPreset& p) { return ZeltoPresetManager::isBuiltInPreset(p.name); });
        SourceListing listing{device, {}};
        const std::string owner = fingerprintOwner(device);
        listing.presets.reserve(list.size());
        for (auto& preset : list) {
            auto fingerprint = mixerCache_->lookup(owner, preset);
            listing.presets.push_back({std::move(preset), fingerprint});
        }
        send([&](auto& d) { d.comparerDidReceiveList(listing.presets, device); });
        mixers.push_back(std::move(listing));
    }

    result.grid = buildCompareGrid(folder, mixers);
    const std::size_t total = fetchesContents ? result.grid.unknownCount() : 0;
    send([&](auto& d) { d.comparerDidBuildGrid(result.grid, total); });

    if (total > 0) {
        std::size_t done = 0;
        for (std::size_t m = 0; m < mixers.size(); ++m) {
            const std::size_t column = m + 1;
            const DevicePtr& device = mixers[m].device;
            const std::string owner = fingerprintOwner(device);
            for (auto& listed : mixers[m].presets) {
                if (listed.fingerprint) continue;
                auto row = result.grid.rowOf(ZeltoPresetManager::matchKey(listed.preset.name));
                if (!row || result.grid.rows[*row].cells[column].state != CellState::unknown) continue;
                send([&](auto& d) { d.comparerWillFetch(listed.preset, device, done, total); });
                auto fetching = manager_.fetchPreset(device, listed.preset);
                auto fetched = co_await std::move(fetching);
                if (cancelled(state)) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
                ++done;
                std::optional<Fingerprint> fingerprint;
                if (fetched && fetched->bytes) {
                    try {
                        fingerprint = fingerprintOf(*fetched->bytes);
                    } catch (const std::exception&) {
                    }
                }
                if (!fingerprint) {
                    ++result.failed;
                    send([&](auto& d) { d.comparerDidFailFetching(listed.preset, device); });
                    continue;
                }
                ++result.fetched;
                mixerCache_->record(owner, listed.preset, *fingerprint);
                listed.fingerprint = fingerprint;
                send([&](auto& d) { d.comparerDidFetch(listed.preset, device, *fingerprint); });
            }
        }
        result.grid = buildCompareGrid(folder, mixers);
    }

    RequiredPresets lists;
    for (const auto& m : mixers) lists.emplace_back(m.device, presetsOf(m.presets));
    result.plan = planSync(presetsOf(folder), lists);
    result.preview = previewSync(result.grid, result.plan);
    co_return result;
}

}  // namespace zelto
