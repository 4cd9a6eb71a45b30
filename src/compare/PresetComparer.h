#pragma once

// The compare run: lists the sync folder and every mixer of a manager, builds
// the comparison grid from the lists and the fingerprint caches, fetches the
// mixers' presets whose fingerprints are unknown or stale (those the grid
// compares with a folder file), and builds the grid again. Every fetch goes
// through the manager (its retries, time-outs and onFetched hook) and is
// recorded in the mixer cache, which is saved at the end of the run, also
// after a cancellation or a failure; a second run with nothing changed
// therefore fetches nothing. The result carries the sync's dry-run plan for
// the same lists and its preview in the grid's terms.
//
// Threads: compare() runs on the caller's executor (the manager's devices'
// executor); folder work goes to the manager's fileExecutor when it has one.
// The delegate is called on the caller's executor. The manager, the caches
// and the delegate must outlive the run.
// Errors: compare() honours the caller's asio cancellation slot: it then ends
// at once with ZeltoPresetManagerError(cancelled). A folder that cannot be
// listed ends it with std::filesystem::filesystem_error. A mixer whose list
// does not arrive has no column (delegate + CompareResult::unlisted); a fetch
// that fails leaves its cell unknown (delegate + CompareResult::failed).
#include <asio/awaitable.hpp>
#include <cstddef>
#include <exception>
#include <memory>
#include <vector>

#include "compare/CompareGrid.h"
#include "compare/FolderFingerprints.h"
#include "compare/MixerFingerprintCache.h"
#include "compare/SyncPreview.h"
#include "sync/SyncPlan.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

// Progress of a compare run; a null device stands for the folder. Every
// callback has an empty default.
class PresetComparerDelegate {
  public:
    virtual ~PresetComparerDelegate() = default;
    virtual void comparerWillRequestList(const DevicePtr& /*from*/) {}
    virtual void comparerDidReceiveList(const std::vector<ListedPreset>& /*list*/,
                                        const DevicePtr& /*from*/) {}
    virtual void comparerDidFailReceivingList(const DevicePtr& /*from*/, const std::exception& /*error*/) {}
    // The grid from the lists and the caches, before anything is fetched.
    virtual void comparerDidBuildGrid(const CompareGrid& /*grid*/, std::size_t /*toFetch*/) {}
    // `done` fetches of `total` are over (each fetched or failed).
    virtual void comparerWillFetch(const RemoteZeltoPreset& /*listed*/, const DevicePtr& /*from*/,
                                   std::size_t /*done*/, std::size_t /*total*/) {}
    virtual void comparerDidFetch(const RemoteZeltoPreset& /*listed*/, const DevicePtr& /*from*/,
                                  const Fingerprint& /*fingerprint*/) {}
    virtual void comparerDidFailFetching(const RemoteZeltoPreset& /*listed*/, const DevicePtr& /*from*/) {}
};

struct CompareResult {
    CompareGrid grid;
    SyncPlan plan;                    // what syncDevices would do with these lists
    SyncPreview preview;              // the plan in the grid's terms
    std::size_t fetched = 0;          // presets fetched by this run
    std::size_t failed = 0;           // fetches that failed (their cells stay unknown)
    std::vector<DevicePtr> unlisted;  // mixers whose list did not arrive (no column)
};

class PresetComparer {
  public:
    PresetComparer(ZeltoPresetManager& manager, std::shared_ptr<MixerFingerprintCache> mixerCache,
                   std::shared_ptr<FolderFingerprints> folderCache = std::make_shared<FolderFingerprints>());

    std::shared_ptr<PresetComparerDelegate> delegate;
    // Off: the grid from the lists and the caches alone (nothing is fetched).
    bool fetchesContents = true;

    asio::awaitable<CompareResult> compare();

  private:
    asio::awaitable<CompareResult> steps();
    template <class F>
    auto onFiles(F work) -> asio::awaitable<decltype(work())>;

    ZeltoPresetManager& manager_;
    std::shared_ptr<MixerFingerprintCache> mixerCache_;
    std::shared_ptr<FolderFingerprints> folderCache_;
};

}  // namespace zelto
