#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppUi.h"
#include "app/ControllerOptions.h"
#include "app/DataStore.h"
#include "app/HistoryModel.h"
#include "app/MainThreadExecutor.h"
#include "app/MixerRegistry.h"
#include "app/RunCoordinator.h"
#include "app/StatusLog.h"
#include "async/Executor.h"
#include "compare/CompareGrid.h"
#include "compare/FolderFingerprints.h"
#include "compare/MixerFingerprintCache.h"
#include "compare/SyncPreview.h"
#include "preset/ZeltoPreset.h"
#include "device/ZeltoTimings.h"
#include "osc/OSCEndpoint.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

class AppSettings;
class FolderWatcher;
class ZeltoDiscoverer;

// The application's composition root without widgets: the mixer registry
// (discovery, sessions, retries), the run coordinator (one long run at a time,
// its log and cancel), the watched sync folder, and the runs themselves
// (sync of all devices, copy batches, reloads, deletes, undo and restores),
// wired to the data store and the views.
//
// Every preset a run or a delete replaces or deletes is kept in the sync
// folder's history first. When it cannot be (a mixer's preset does not
// arrive), AppUi::confirm asks whether to go on without a copy; a yes does
// the step again with the manager's `force`, for the rest of that run.
//
// Everything here runs on the main thread. The folder is listed, read and
// written on the io pool, so a slow disk never stalls the window.
class MainController : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* localSourceName = DataStore::localSourceName;

    // `pool` runs the sockets, timers and folder work; the controller's own
    // work runs on the main thread's executor, made here. All references
    // outlive it.
    MainController(IoPool& pool, DataStore& store, AppSettings& settings, AppUi& ui,
                   ControllerOptions options = {}, QObject* parent = nullptr);
    ~MainController() override;

    // Start-up: the sync folder's list becomes the local source (or the
    // critical alert) and the folder is watched; then discovery and the
    // network path monitor.
    void start();
    // A discovery answer (the discoverer's handler; main thread).
    void discovered(const OSCEndpoint& endpoint, const std::string& uid);
    // F5: a discovery pass, every online mixer's list and the folder read again.
    void rescanNetwork();
    // Stores the addresses the user typed (AppSettings::mixerAddresses) and
    // asks them at once; every later pass asks them too.
    void setMixerAddresses(const std::vector<std::string>& addresses);

    // The long runs: each clears the status log, presents the status sheet,
    // logs its steps and finishes the log. One at a time: a run asked for
    // while another is going on is refused (false). Sync All and copies use
    // the online mixers; mixers still connecting are waited for up to the
    // connect time-out, or left out with a line that says so.
    bool syncAll();
    bool copyPresets(std::vector<PresetCopyJob> jobs);
    // Re-reads the lists of `devices` (null = the local folder) into the
    // store outside any run; the errors, if any, make one alert. `done` runs
    // on the main thread at the end.
    void reloadPresetLists(std::vector<DevicePtr> devices, std::function<void()> done = {});
    // Lists `path` on the io pool; `done` gets the list or the error's text on
    // the main thread (never after shutDown).
    void readFolder(const std::string& path,
                    std::function<void(std::vector<RemoteZeltoPreset>, std::optional<std::string>)> done);
    // Edit ▸ Undo: a run that undoes the history's last copy, sync, delete or
    // restore with the online mixers (ZeltoPresetManager::undoLastOperation),
    // then reads the folder and their lists again. False like the other runs.
    bool undoLastOperation();
    // The kind of operation Undo would undo ("copy", "sync", "delete",
    // "restore"), as last read: at start-up, after each run and delete, and
    // when the folder changed. None when there is nothing to undo.
    const std::optional<std::string>& undoableKind() const { return undoable_; }
    // Puts kept versions back, into the folder (null) or onto a mixer, as a run.
    bool restoreVersions(std::vector<HistoryEntry> versions, DevicePtr to);
    // Reads the sync folder's history on the io pool; `done` gets it on the
    // main thread (never after shutDown). A history that cannot be read is
    // the listing's error.
    void readHistory(std::function<void(HistoryListing)> done);
    // --- comparison of contents ---
    // The comparison grid of the store's lists: the folder listed again with
    // its fingerprints (on the io pool), the mixers' fingerprints from the
    // cache. Nothing is fetched. `done` gets it on the main thread (never
    // after shutDown).
    void buildCompareGrid(std::function<void(CompareGrid)> done);
    // What Sync All would do with the store's lists, from the planner the
    // sync carries out, in the terms of the grid `done` gets with it.
    void previewSync(std::function<void(CompareGrid, SyncPreview)> done);
    // Compare Contents: a run that fetches the online mixers' presets whose
    // fingerprints are unknown or stale (PresetComparer); emits
    // fingerprintsChanged at its end. False like the other runs.
    bool compareContents();
    // Reads one preset's document: from the folder's file (null device) or
    // fetched from the mixer (and its fingerprint recorded). `done` gets the
    // preset, or the reason why not, on the main thread (never after shutDown).
    void readPreset(DevicePtr device, std::string name,
                    std::function<void(std::optional<ZeltoPreset>, std::string problem)> done);
    // The mixers' fingerprints, filled by every fetch of the runs.
    MixerFingerprintCache& fingerprintCache() { return *fingerprints_; }

    // Stops the current run (the status log's Cancel does the same).
    void cancelRun();
    bool runActive() const;

    // Commands of the preset and source views.
    void loadPreset(const DevicePtr& device, const RemoteZeltoPreset& preset);
    // Deletes on the devices and in the local folder, then reloads each
    // source involved once; every failure, of the deletes or the reloads,
    // is listed in one critical alert.
    void deletePresets(const std::vector<Preset>& presets);
    void identify(const std::vector<DevicePtr>& devices);

    // The orderly end (call on the main thread, before destroying the
    // controller and the pool): cancels the run, disconnects every device,
    // stops discovery and the path monitor, runs the Qt loop until nothing
    // posted or started on the main thread is left, then drains the pool.
    // True when everything ended within `deadline`.
    bool shutDown(std::chrono::milliseconds deadline = std::chrono::seconds(5));

    StatusLog& statusLog();
    AppSettings& settings() { return settings_; }
    DataStore& dataStore() { return store_; }
    MixerRegistry& mixers() { return *registry_; }
    RunCoordinator& runs() { return *runs_; }
    // The devices created and not yet disconnected, each once, in creation order.
    const std::vector<DevicePtr>& devices() const;
    // Mixers whose session is open, whether or not their list has arrived.
    int onlineMixerCount() const;
    ZeltoDiscoverer* discoverer() const;
    MainThreadContext& mainThread() { return mainThread_; }
    MainThreadExecutor mainExecutor() { return mainThread_.executor(); }
    // The listen port the next device gets.
    std::uint16_t nextListenPort() const;

  signals:
    void devicesChanged();
    // A long run ended (after the log's finish).
    void runFinished();
    // A delete began or ended: runActive() may have changed.
    void busyChanged();
    // The history was read again (it may have changed): see undoableKind.
    void historyChanged();
    // The fingerprint cache learned something (a run fetched presets): the
    // comparison grid may change.
    void fingerprintsChanged();

  private:
    class ManagerEvents;
    class CompareEvents;

    ZeltoPresetManager makeManager(std::vector<DevicePtr> devices);
    Task<void> syncRun();
    Task<void> copyRun(std::vector<PresetCopyJob> jobs);
    // Reads lists into the store, logging each step in the run's log.
    Task<void> reloadRun(std::vector<DevicePtr> devices);
    // Reads lists into the store outside a run; returns what failed.
    Task<std::vector<std::string>> reloadQuietly(std::vector<DevicePtr> devices);
    Task<std::vector<RemoteZeltoPreset>> listLocalFolder();
    Task<void> deleteRun(std::vector<Preset> presets);
    Task<void> deleteOne(ZeltoPresetManager& manager, const Preset& preset);
    Task<void> undoRun();
    Task<void> restoreRun(std::vector<HistoryEntry> versions, DevicePtr to);
    Task<void> compareRun();
    // The store's mixer lists with their cached fingerprints, in store order.
    std::vector<SourceListing> mixerListings() const;
    // Saves the fingerprint cache on the io pool; then fingerprintsChanged.
    void saveFingerprints();
    // Runs `step`; when it stops because what it would replace or delete
    // cannot be kept, asks whether to go on without a copy and, if so, runs
    // it again with the manager's force on. A no rethrows the error.
    Task<void> keepingOrAsking(ZeltoPresetManager& manager, std::function<Task<void>()> step);
    // The question itself; false when the run is cancelled meanwhile.
    Task<bool> askToGoOnWithoutCopy(std::string detail);
    // Reads which operation Undo would undo, then emits historyChanged.
    void refreshHistory();
    void reloadLocalFolder();
    std::vector<DevicePtr> reloadTargetsAfterRun(const std::vector<DevicePtr>& devices) const;

    MainThreadContext mainThread_;
    IoPool& pool_;
    DataStore& store_;
    AppSettings& settings_;
    AppUi& ui_;
    ControllerOptions options_;
    std::unique_ptr<MixerRegistry> registry_;
    std::unique_ptr<RunCoordinator> runs_;
    std::unique_ptr<FolderWatcher> folderWatcher_;
    std::shared_ptr<ManagerEvents> managerEvents_;
    std::shared_ptr<MixerFingerprintCache> fingerprints_;
    std::shared_ptr<FolderFingerprints> folderFingerprints_;
    std::optional<std::string> undoable_;
    bool shutDown_ = false;
};

}  // namespace zelto
