#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "device/RemoteZeltoPreset.h"
#include "sync/History.h"

namespace zelto {

class ZeltoDevice;
struct SyncPlan;

class ZeltoPresetManagerError : public std::exception {
  public:
    enum class Case {
        localPathDoesNotExist,
        emptyPreset,
        presetDoesNotExistAtSource,
        presetDoesNotExist,
        invalidPath,
        // The preset to be replaced or deleted could not be kept in the
        // history (its fetch failed, the history is damaged or not ours):
        // nothing was changed. The manager's `force` goes on without a copy.
        cannotKeepOldPreset,
        // An undo could not put back everything (a mixer is not there, a
        // kept version is missing); what it could, it did.
        undoIncomplete,
        // A sent preset that the mixer did not list (or that could not be read
        // back) after every resend: a segment was lost and the mixer dropped it.
        presetNotStored,
        // A sent preset that the mixer holds with other content (only checked
        // when the manager verifies).
        presetStoredDifferently,
        // The caller cancelled the operation (asio per-operation cancellation).
        cancelled
    };

    explicit ZeltoPresetManagerError(Case c) noexcept : case_(c) {}
    ZeltoPresetManagerError(Case c, std::string detail) : case_(c), detail_(std::move(detail)) {}
    Case errorCase() const noexcept { return case_; }
    // Why, for people (may be empty).
    const std::string& detail() const noexcept { return detail_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    std::string detail_;
};

using DevicePtr = std::shared_ptr<ZeltoDevice>;
// Presets grouped by the device that serves them, in the manager's device order.
using RequiredPresets = std::vector<std::pair<DevicePtr, std::vector<RemoteZeltoPreset>>>;

// Progress of the manager's operations. A null device stands for the local
// sync folder. Every operation has an empty default.
class ZeltoPresetManagerDelegate {
  public:
    virtual ~ZeltoPresetManagerDelegate() = default;
    virtual void presetManagerDidStartSync() {}
    virtual void presetManagerDidFinishSync() {}
    virtual void presetManagerWillRequestPresetList(const DevicePtr& /*from*/) {}
    virtual void presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& /*list*/,
                                                   const DevicePtr& /*from*/) {}
    virtual void presetManagerDidFailReceivingPresetList(const DevicePtr& /*from*/,
                                                         const std::exception& /*error*/) {}
    virtual void presetManagerDidDetermineRequiredPresets(const RequiredPresets& /*required*/) {}
    // What the sync is about to move: every fetch and every send it will try.
    virtual void presetManagerDidPlanSync(const SyncPlan& /*plan*/) {}
    virtual void presetManagerDidRequestPreset(const RemoteZeltoPreset& /*preset*/,
                                               const DevicePtr& /*from*/) {}
    virtual void presetManagerDidReceivePreset(const RemoteZeltoPreset& /*preset*/,
                                               const DevicePtr& /*from*/) {}
    virtual void presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& /*preset*/,
                                                     const DevicePtr& /*from*/) {}
    virtual void presetManagerDidWritePreset(const RemoteZeltoPreset& /*preset*/) {}
    virtual void presetManagerWillOverwritePreset(const RemoteZeltoPreset& /*preset*/) {}
    virtual void presetManagerDidFailWritingPreset(const RemoteZeltoPreset& /*preset*/,
                                                   const std::exception& /*error*/) {}
    virtual void presetManagerDidSendPreset(const RemoteZeltoPreset& /*preset*/, const DevicePtr& /*to*/,
                                            bool /*overwriting*/) {}
    // A planned send that could not be made (its file is gone or unreadable,
    // or its fetch failed).
    virtual void presetManagerDidFailSendingPreset(const std::string& /*name*/, const DevicePtr& /*to*/,
                                                   const std::exception& /*error*/) {}
    // A sent preset that the mixer did not hold as sent, sent once more.
    virtual void presetManagerWillResendPreset(const RemoteZeltoPreset& /*preset*/, const DevicePtr& /*to*/) {
    }
    // A sent preset that the mixer still did not hold as sent after every
    // resend; `error` is presetNotStored or presetStoredDifferently.
    virtual void presetManagerDidFailConfirmingPreset(const std::string& /*name*/, const DevicePtr& /*to*/,
                                                      const std::exception& /*error*/) {}
    // A copy that could not replace a mixer's preset sent the previous one back.
    virtual void presetManagerDidRestorePreset(const std::string& /*name*/, const DevicePtr& /*to*/) {}
    virtual void presetManagerDidFailRestoringPreset(const std::string& /*name*/, const DevicePtr& /*to*/) {}
};

// Keeps a local sync folder and a set of mixers holding the same presets
// (matched by name), and copies single presets between any two sources.
class ZeltoPresetManager {
  public:
    // The built-in presets every mixer holds; they never move.
    static constexpr const char* kBuiltInPresets[] = {"default (PRESET)", "defaultOFF (PRESET)"};
    static constexpr std::uint64_t kListTimeout = 1'000'000'000;
    static constexpr std::uint64_t kConnectTimeout = 1'000'000'000;
    static constexpr std::uint64_t kPresetTimeout = 10'000'000'000;
    // A fetch or a list request that times out is asked for again this many times.
    static constexpr int kFetchRetries = 2;
    static constexpr int kListRetries = 2;
    // A preset that a mixer does not hold after its send is sent this many times more.
    static constexpr int kSendRetries = 2;

    // Waits in nanoseconds; the protocol's values by default, shorter in tests.
    struct Timeouts {
        std::uint64_t list = kListTimeout;
        std::uint64_t connect = kConnectTimeout;
        std::uint64_t preset = kPresetTimeout;
        // How long a mixer's list is asked for again until it names every
        // preset just sent (a mixer stores a preset a little after its last
        // datagram); the pauses between the asks grow from `storePause`.
        std::chrono::milliseconds storeWindow{2000};
        std::chrono::milliseconds storePause{50};
    };

    // `localPath` gets a trailing '/' when it lacks one.
    ZeltoPresetManager(std::vector<DevicePtr> devices, std::string localPath);

    const std::vector<DevicePtr>& devices() const { return devices_; }
    const std::string& localPath() const { return localPath_; }
    std::shared_ptr<ZeltoPresetManagerDelegate> delegate;
    Timeouts timeouts;
    // Where the folder is listed, read and written. None: on the caller's own
    // executor. A caller whose thread must never wait for a disk (a window)
    // names a pool executor; the manager resumes on the caller's executor
    // after each folder operation.
    std::optional<asio::any_io_executor> fileExecutor;
    // A copy opens the session of a mixer that has none. An owner that keeps
    // the sessions itself turns this off: a copy from or to a mixer without a
    // session then fails with ZeltoDeviceError::deviceIsOffline.
    bool connectsDevices = true;
    // Every preset a copy, delete, restore or undo replaces or deletes, in
    // the folder or on a mixer, is kept in the folder's history first (a
    // mixer's is fetched); when it cannot be, the operation stops with
    // cannotKeepOldPreset unless `force` is set. `keepsHistory` off keeps
    // nothing (benchmarks compare with it). The sync records what it adds.
    bool force = false;
    bool keepsHistory = true;
    History& history() { return *history_; }
    // Replaces the history's limits (call between runs).
    void setHistoryLimits(HistoryLimits limits);
    // Makes the deletes that follow (deleteOnDevice, deleteLocalPreset) one
    // "delete" operation, undone together, instead of one operation each.
    void beginDeletes();
    // The operation the last run recorded its history entries under.
    const HistoryOperation& lastOperation() const { return operation_; }
    // Every preset sent to a mixer is checked on its list afterwards; with
    // `verify` it is also fetched back and compared with what was sent (bytes,
    // else the decoded documents). A preset that fails the check is sent again
    // (kSendRetries), then is a failed item of a sync, or ends a copy with
    // presetNotStored or presetStoredDifferently.
    bool verify = false;
    // Items of the last sync or copy that failed without ending it: presets
    // that could not be fetched, written or sent.
    int failedItems() const { return failedItems_; }

    // Where the companion application keeps its presets.
    static std::string zeltoAppPresetPath();

    // What presets are matched by: the name without the date suffixes at its
    // end. A mixer may list a name with or without its date, and may keep a
    // date that came with a name it received; every side is compared the same
    // way, so a synchronised preset is recognised on the next sync.
    static std::string matchKey(const std::string& name);
    // The match keys of a list, each once, for asking whether it holds a name.
    static std::unordered_set<std::string> matchKeys(const std::vector<RemoteZeltoPreset>& list);
    static bool isBuiltInPreset(const std::string& name);

    // The presets of a folder, with dates, without bytes. File system errors
    // are thrown as std::filesystem::filesystem_error.
    static std::vector<RemoteZeltoPreset> localPresetList(const std::string& localPath);
    // localPath + name + ".ZELTOshow"; invalidPath for a name that is not one
    // plain file name.
    RemoteZeltoPreset loadPreset(const std::string& name) const;
    static RemoteZeltoPreset loadPresetAtPath(const std::string& path);
    // Writes each preset through a temporary file; failures are reported per
    // preset to the delegate and the loop goes on.
    void writePresetsToLocal(const std::vector<RemoteZeltoPreset>& presets);
    // One preset's file: what went wrong, if anything, and whether a file of
    // that name was replaced. Calls no delegate.
    struct WriteOutcome {
        std::exception_ptr error;
        bool replaced = false;
    };
    WriteOutcome writePresetToLocal(const RemoteZeltoPreset& preset) const;
    // Reports one write's outcome to the delegate; false when it failed.
    bool reportWrite(const RemoteZeltoPreset& preset, const WriteOutcome& outcome);
    // Deletes the folder's file, keeping it in the history first (force:
    // deletes it even when it cannot be kept).
    void deleteLocalPreset(const std::string& name);
    static void deletePreset(const std::string& name, const std::string& at, bool force = false);

    // Both honour the caller's asio cancellation slot: a cancellation ends them
    // at once with `cancelled`, sending and writing nothing more (preset files
    // are only ever replaced whole). The manager must outlive them.
    asio::awaitable<void> syncDevices();
    // A null device is the local folder. A copy to a mixer that does not
    // confirm the preset (see `verify`) throws presetNotStored or
    // presetStoredDifferently; when it replaced a preset of that name, the
    // previous version, fetched before the delete, has been sent back by then.
    asio::awaitable<void> copyPreset(std::string name, DevicePtr from, DevicePtr to);
    // Fetches and keeps the mixer's preset, then deletes it there;
    // presetDoesNotExist when the mixer does not list it.
    asio::awaitable<void> deleteOnDevice(std::string name, DevicePtr device);
    // Puts a kept version back, into the folder (null) or onto a mixer; what
    // it replaces there is kept first.
    asio::awaitable<void> restorePreset(HistoryEntry entry, DevicePtr to);
    // Undoes the history's last operation (see History::lastOperation): puts
    // back every preset it replaced or deleted, deletes every one it added
    // (keeping them). Mixers are those of the manager, matched by uid. None
    // when there is nothing to undo. With `operationId`, undoes that
    // operation instead: an undo that stopped halfway (cannotKeepOldPreset)
    // counts as done in the history, and is finished by naming what it undid
    // (lastOperation().undoes).
    asio::awaitable<std::optional<HistoryOperation>> undoLastOperation(
        std::optional<std::string> operationId = std::nullopt);

    // Called on the manager's executor with every preset a fetch brought, by
    // a sync, a copy, a verify, a keep for the history or a caller of
    // fetchPreset: the mixer, the entry of its list that was asked for, and
    // the preset that came (with bytes). None by default. Must not throw.
    std::function<void(const DevicePtr& device, const RemoteZeltoPreset& listed, const RemoteZeltoPreset& fetched)>
        onFetched;

    // One fetch of a listed preset, asked for again after a time-out; none when
    // it failed. The preset comes under its listed name, with the listed date
    // when the mixer sent none. A cancellation is thrown as the device's error.
    asio::awaitable<std::optional<RemoteZeltoPreset>> fetchPreset(DevicePtr device, RemoteZeltoPreset listed);
    // A device's list, asked for again after a time-out.
    asio::awaitable<std::vector<RemoteZeltoPreset>> requestList(DevicePtr device);
  private:
    template <class F>
    auto onFiles(F work) -> asio::awaitable<decltype(work())>;
    asio::awaitable<void> syncSteps();
    asio::awaitable<void> copySteps(std::string name, DevicePtr from, DevicePtr to);
    // Checks that each device holds each of the presets just sent to it,
    // sending what it lacks again up to kSendRetries times; the devices share
    // each round's store window. Per device, each preset that is still not
    // held, by index, with why. Calls no failure delegate.
    struct Unconfirmed {
        std::size_t index;
        ZeltoPresetManagerError::Case why;
    };
    struct SentPresets {
        DevicePtr device;
        std::vector<RemoteZeltoPreset> presets;
    };
    asio::awaitable<std::vector<std::vector<Unconfirmed>>> confirmSends(std::vector<SentPresets> sent);
    asio::awaitable<std::vector<Unconfirmed>> confirmSends(DevicePtr device,
                                                           std::vector<RemoteZeltoPreset> presets);
    // Which of `sent` the device does not hold as sent, by its list `found`
    // (every one when none came); with `verify`, each listed one is fetched.
    asio::awaitable<std::vector<Unconfirmed>> unconfirmed(
        DevicePtr device, const std::vector<RemoteZeltoPreset>& sent,
        const std::optional<std::vector<RemoteZeltoPreset>>& found);
    // Each device's list, asked for again (pauses growing from storePause)
    // until its `done` holds for the list's match keys or the store window
    // passes; the last list of each, none when it gave no answer.
    using KeysDone = std::function<bool(const std::unordered_set<std::string>&)>;
    asio::awaitable<std::vector<std::optional<std::vector<RemoteZeltoPreset>>>> listsUntil(
        std::vector<DevicePtr> devices, std::vector<KeysDone> done);
    asio::awaitable<std::optional<std::vector<RemoteZeltoPreset>>> listUntil(DevicePtr device, KeysDone done);
    // Deletes a preset and waits until the device no longer lists it, asking
    // up to kSendRetries times more; false when it still lists it.
    asio::awaitable<bool> deleteChecked(DevicePtr device, std::string name);
    // Sends back the version of a preset that a failed copy deleted, and checks it arrived.
    asio::awaitable<void> restorePrevious(DevicePtr device, RemoteZeltoPreset previous);
    void reportFailedSend(const std::string& name, const DevicePtr& to, const std::exception& error);
    // History steps of a run.
    void beginOperation(std::string kind, std::string source, std::string undoes = {});
    asio::awaitable<void> connectDevice(const DevicePtr& device);
    // Fetches a mixer's preset and keeps it (force: goes on when it cannot).
    // With `alreadyFetched`, `fetched` is the caller's fetch of it (none: that
    // fetch failed, and it is not asked again); otherwise it is fetched here.
    asio::awaitable<void> keepDevicePreset(DevicePtr device, RemoteZeltoPreset listed, HistoryEvent event,
                                           std::string reason,
                                           std::optional<RemoteZeltoPreset> fetched = std::nullopt,
                                           bool alreadyFetched = false);
    // Sends `preset` to `to`, first keeping and deleting one of that name.
    asio::awaitable<void> putOnDevice(RemoteZeltoPreset preset, DevicePtr to, std::string replacedReason);
    asio::awaitable<void> recordAdded(std::string name, HistoryLocation location);
    asio::awaitable<void> pruneHistory();
    void keepFailed(const std::exception& error, const std::string& what) const;

    std::vector<DevicePtr> devices_;
    std::string localPath_;
    int failedItems_ = 0;
    std::shared_ptr<History> history_;
    HistoryOperation operation_;
    bool undoing_ = false;  // the steps of an undo record under its operation
    bool groupedDeletes_ = false;  // deletes record under the operation of beginDeletes
    std::string source_;  // where the run's presets come from, for reasons
};

// Where a mixer is, as the history names it.
HistoryLocation historyLocation(const DevicePtr& device);

// The sync folder used when none is given: the companion application's
// preset folder when it exists, else "Downloads" in the home folder.
std::string defaultSyncDirectoryPath();

}  // namespace zelto
