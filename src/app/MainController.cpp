#include "app/MainController.h"

#include <algorithm>
#include <asio/async_result.hpp>
#include <asio/co_spawn.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <set>

#include "app/AppSettings.h"
#include "app/FolderWatcher.h"
#include "app/Logging.h"
#include "async/Offload.h"
#include "compare/FetchRecording.h"
#include "compare/PresetComparer.h"
#include "device/ZeltoDevice.h"
#include "sync/StatusText.h"
#include "sync/SyncPlan.h"

namespace zelto {

namespace {

bool sameDevice(const DevicePtr& a, const DevicePtr& b) {
    return a == b || (a && b && *a == *b);
}

void collectOnce(std::vector<DevicePtr>& devices, const DevicePtr& device) {
    for (const auto& known : devices) {
        if (sameDevice(known, device)) return;
    }
    devices.push_back(device);
}

Task<bool> cancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

class RunCancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "cancelled"; }
};

bool isCancel(const std::exception& e) {
    auto* manager = dynamic_cast<const ZeltoPresetManagerError*>(&e);
    return manager && manager->errorCase() == ZeltoPresetManagerError::Case::cancelled;
}

bool isUnkept(const std::exception& e) {
    auto* manager = dynamic_cast<const ZeltoPresetManagerError*>(&e);
    return manager && manager->errorCase() == ZeltoPresetManagerError::Case::cannotKeepOldPreset;
}

std::string errorDetail(const std::exception& e) {
    if (auto* manager = dynamic_cast<const ZeltoPresetManagerError*>(&e); manager && !manager->detail().empty())
        return manager->detail();
    if (auto* history = dynamic_cast<const HistoryError*>(&e)) return history->detail();
    return statustext::errorText(e);
}

QString operationName(const std::string& kind) {
    if (kind == "copy") return MainController::tr("copy");
    if (kind == "sync") return MainController::tr("sync");
    if (kind == "delete") return MainController::tr("delete");
    if (kind == "restore") return MainController::tr("restore");
    return QString::fromStdString(kind);
}

std::string toStd(const QString& s) {
    return s.toStdString();
}


}  // namespace

// The preset manager's events as status lines, plus the transfer count, which
// comes from the plan the sync carries out. Called on the main thread (the
// manager runs in a coroutine there).
class MainController::ManagerEvents : public statustext::StatusTextDelegate {
  public:
    explicit ManagerEvents(StatusLog& log) : log_(log) {}

    void statusLine(const std::string& text, bool isError) override { log_.append(text, isError); }

    void presetManagerDidPlanSync(const SyncPlan& plan) override {
        log_.addTransfersPlanned(static_cast<int>(plan.fetches.size() + plan.sends.size()));
    }
    void presetManagerDidReceivePreset(const RemoteZeltoPreset& preset, const DevicePtr& from) override {
        StatusTextDelegate::presetManagerDidReceivePreset(preset, from);
        log_.addTransferDone();
    }
    void presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& preset,
                                             const DevicePtr& from) override {
        StatusTextDelegate::presetManagerDidFailReceivingPreset(preset, from);
        log_.addTransferDone();
    }
    void presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                    bool overwriting) override {
        StatusTextDelegate::presetManagerDidSendPreset(preset, to, overwriting);
        log_.addTransferDone();
    }
    void presetManagerDidFailSendingPreset(const std::string& name, const DevicePtr& to,
                                           const std::exception& error) override {
        StatusTextDelegate::presetManagerDidFailSendingPreset(name, to, error);
        log_.addTransferDone();
    }

  private:
    StatusLog& log_;
};

// The compare run's progress as status lines and transfers.
class MainController::CompareEvents : public PresetComparerDelegate {
  public:
    explicit CompareEvents(StatusLog& log) : log_(log) {}

    void comparerDidFailReceivingList(const DevicePtr& from, const std::exception& error) override {
        if (from) log_.append(statustext::failedReceivingPresetList(from, error), true);
    }
    void comparerDidBuildGrid(const CompareGrid&, std::size_t toFetch) override {
        log_.setTransfersPlanned(static_cast<int>(toFetch));
        log_.append(toStd(MainController::tr("presets whose contents are not known yet: %1").arg(toFetch)));
    }
    void comparerWillFetch(const RemoteZeltoPreset& listed, const DevicePtr& from, std::size_t, std::size_t) override {
        log_.append(toStd(MainController::tr("fetching %1 from %2")
                              .arg(QString::fromStdString(listed.name), QString::fromStdString(from->description()))));
    }
    void comparerDidFetch(const RemoteZeltoPreset&, const DevicePtr&, const Fingerprint&) override {
        log_.addTransferDone();
    }
    void comparerDidFailFetching(const RemoteZeltoPreset& listed, const DevicePtr& from) override {
        log_.append(toStd(MainController::tr("%1 did not arrive from %2; its content stays unknown")
                              .arg(QString::fromStdString(listed.name), QString::fromStdString(from->description()))),
                    true);
        log_.addTransferDone();
    }

  private:
    StatusLog& log_;
};

MainController::MainController(IoPool& pool, DataStore& store, AppSettings& settings, AppUi& ui,
                               ControllerOptions options, QObject* parent)
    : QObject(parent),
      pool_(pool),
      store_(store),
      settings_(settings),
      ui_(ui),
      options_(std::move(options)),
      registry_(std::make_unique<MixerRegistry>(pool, mainThread_, store, settings, ui, options_)),
      runs_(std::make_unique<RunCoordinator>(mainThread_, ui)),
      folderWatcher_(std::make_unique<FolderWatcher>(options_.folderSettle)),
      managerEvents_(std::make_shared<ManagerEvents>(runs_->statusLog())),
      fingerprints_(std::make_shared<MixerFingerprintCache>(options_.fingerprintCachePath.empty()
                                                                 ? MixerFingerprintCache::defaultPath()
                                                                 : options_.fingerprintCachePath)),
      folderFingerprints_(std::make_shared<FolderFingerprints>()) {
    connect(registry_.get(), &MixerRegistry::devicesChanged, this, &MainController::devicesChanged);
    connect(runs_.get(), &RunCoordinator::runFinished, this, &MainController::runFinished);
    connect(runs_.get(), &RunCoordinator::busyChanged, this, &MainController::busyChanged);
    connect(runs_.get(), &RunCoordinator::runFinished, this, &MainController::refreshHistory);
    connect(runs_.get(), &RunCoordinator::runFinished, this, &MainController::saveFingerprints);
    connect(folderWatcher_.get(), &FolderWatcher::changed, this, &MainController::reloadLocalFolder);
}

MainController::~MainController() {
    shutDown();
}

StatusLog& MainController::statusLog() {
    return runs_->statusLog();
}
const std::vector<DevicePtr>& MainController::devices() const {
    return registry_->devices();
}
int MainController::onlineMixerCount() const {
    return registry_->onlineCount();
}
ZeltoDiscoverer* MainController::discoverer() const {
    return registry_->discoverer();
}
std::uint16_t MainController::nextListenPort() const {
    return registry_->nextListenPort();
}
bool MainController::runActive() const {
    return runs_->busy();
}
void MainController::cancelRun() {
    runs_->cancel();
}

// --- start-up, discovery and the folder ------------------------------------

void MainController::start() {
    folderWatcher_->watch(settings_.syncDirectoryPath());
    auto listing = listLocalFolder();
    asio::co_spawn(mainExecutor(), std::move(listing),
                   [this](std::exception_ptr error, std::vector<RemoteZeltoPreset> list) {
                       if (shutDown_) return;
                       if (!error) {
                           store_.setLocalPresets(std::move(list));
                           refreshHistory();
                           return;
                       }
                       try {
                           std::rethrow_exception(error);
                       } catch (const std::exception& e) {
                           ui_.showAlert(AppUi::AlertStyle::critical,
                                         tr("Couldn't load local preset list: %1\nPlease consider "
                                            "resetting your local sync directory in the app settings!")
                                             .arg(QString::fromStdString(e.what()))
                                             .toStdString());
                       }
                   });
    registry_->start();
}

Task<std::vector<RemoteZeltoPreset>> MainController::listLocalFolder() {
    auto listing = offload(pool_.executor(), [path = settings_.syncDirectoryPath()] {
        return ZeltoPresetManager::localPresetList(path);
    });
    co_return co_await std::move(listing);
}

// Another program changed the folder (or the user chose another one): the
// local source shows it, without a run and without an alert for a folder
// that is briefly unreadable.
void MainController::reloadLocalFolder() {
    if (shutDown_) return;
    folderWatcher_->watch(settings_.syncDirectoryPath());
    auto listing = listLocalFolder();
    asio::co_spawn(mainExecutor(), std::move(listing),
                   [this](std::exception_ptr error, std::vector<RemoteZeltoPreset> list) {
                       if (!error && !shutDown_) store_.setLocalPresets(std::move(list));
                   });
    refreshHistory();
}

void MainController::readFolder(
    const std::string& path,
    std::function<void(std::vector<RemoteZeltoPreset>, std::optional<std::string>)> done) {
    if (shutDown_) return;
    folderWatcher_->watch(path);
    auto listing = offload(pool_.executor(), [path] { return ZeltoPresetManager::localPresetList(path); });
    asio::co_spawn(mainExecutor(), std::move(listing),
                   [this, done = std::move(done)](std::exception_ptr error, std::vector<RemoteZeltoPreset> list) {
                       if (shutDown_) return;
                       if (!error) return done(std::move(list), std::nullopt);
                       try {
                           std::rethrow_exception(error);
                       } catch (const std::exception& e) {
                           done({}, std::string(e.what()));
                       }
                   });
}

void MainController::discovered(const OSCEndpoint& endpoint, const std::string& uid) {
    registry_->discovered(endpoint, uid);
}

void MainController::rescanNetwork() {
    registry_->rescan();
    reloadLocalFolder();
}

void MainController::setMixerAddresses(const std::vector<std::string>& addresses) {
    settings_.setMixerAddresses(addresses);
    registry_->discoverNow();
}

// --- long runs ---------------------------------------------------------------

ZeltoPresetManager MainController::makeManager(std::vector<DevicePtr> devices) {
    ZeltoPresetManager manager(std::move(devices), settings_.syncDirectoryPath());
    manager.delegate = managerEvents_;
    manager.timeouts = options_.managerTimeouts;
    manager.fileExecutor = pool_.executor();
    manager.connectsDevices = false;
    manager.verify = settings_.verifySentPresets();
    HistoryLimits limits;
    limits.versionsPerName = static_cast<std::size_t>(settings_.historyVersionsPerName());
    limits.totalBytes = static_cast<std::uint64_t>(settings_.historySizeMiB()) * 1024 * 1024;
    manager.setHistoryLimits(limits);
    recordFetchedFingerprints(manager, fingerprints_);
    return manager;
}

// After a run the lists of the mixers still here are read again.
std::vector<DevicePtr> MainController::reloadTargetsAfterRun(const std::vector<DevicePtr>& devices) const {
    std::vector<DevicePtr> targets;
    for (const auto& device : devices) {
        if (!device || registry_->holds(device)) collectOnce(targets, device);
    }
    return targets;
}

bool MainController::syncAll() {
    if (shutDown_) return false;
    return runs_->start([this] { return syncRun(); },
                        [this] {
                            auto devices = registry_->onlineDevices();
                            devices.push_back(nullptr);
                            return reloadRun(std::move(devices));
                        });
}

Task<void> MainController::syncRun() {
    statusLog().append(statustext::text(statustext::startingSync));
    // Mixers still connecting are waited for; those that are not online by
    // then, still connecting or failed meanwhile, are left out, and the log says so.
    const auto connecting = registry_->connectingDevices();
    auto waiting = registry_->waitForConnecting(std::chrono::nanoseconds(options_.connectTimeout));
    co_await std::move(waiting);
    auto devices = registry_->onlineDevices();
    for (const auto& device : connecting) {
        if (std::find(devices.begin(), devices.end(), device) == devices.end())
            statusLog().append(statustext::leftOut(device));
    }
    ZeltoPresetManager manager = makeManager(devices);
    std::exception_ptr failure;
    try {
        auto sync = manager.syncDevices();
        co_await std::move(sync);
    } catch (const std::exception& e) {
        if (isCancel(e)) throw;
        failure = std::current_exception();
    }
    if (!failure && manager.failedItems() == 0)
        statusLog().append(statustext::text(statustext::syncFinished));
    statusLog().append(statustext::text(statustext::reloadingPresetLists));
    auto targets = reloadTargetsAfterRun(devices);
    targets.push_back(nullptr);
    auto reload = reloadRun(std::move(targets));
    co_await std::move(reload);
    if (failure) std::rethrow_exception(failure);
    if (manager.failedItems() > 0) throw RunIncomplete(statustext::presetsNotSynchronised(manager.failedItems()));
    statusLog().append(statustext::text(statustext::finished));
}

bool MainController::copyPresets(std::vector<PresetCopyJob> jobs) {
    if (shutDown_) return false;
    std::vector<DevicePtr> affected;
    for (const auto& job : jobs) collectOnce(affected, job.from);
    for (const auto& job : jobs) collectOnce(affected, job.to);
    return runs_->start([this, jobs = std::move(jobs)] { return copyRun(jobs); },
                        [this, affected] { return reloadRun(reloadTargetsAfterRun(affected)); });
}

Task<void> MainController::copyRun(std::vector<PresetCopyJob> jobs) {
    auto& log = statusLog();
    log.append(statustext::text(statustext::startingCopy));
    log.setTransfersPlanned(static_cast<int>(jobs.size()));
    ZeltoPresetManager manager = makeManager({});
    int failed = 0;
    for (const auto& job : jobs) {
        auto stop = cancelled();
        if (co_await std::move(stop)) throw RunCancelled();
        std::string problem = job.problem;
        if (problem.empty()) {
            for (const auto& device : {job.from, job.to}) {
                if (device && !registry_->holds(device))
                    problem = tr("the mixer %1 is no longer connected")
                                  .arg(QString::fromStdString(device->description()))
                                  .toStdString();
            }
        }
        if (problem.empty()) {
            log.append(statustext::copying(job.presetName, job.from, job.to));
            try {
                auto copy = keepingOrAsking(manager, [&manager, &job]() -> Task<void> {
                    auto copying = manager.copyPreset(job.presetName, job.from, job.to);
                    co_await std::move(copying);
                });
                co_await std::move(copy);
            } catch (const std::exception& e) {
                if (isCancel(e)) throw;
                problem = errorDetail(e);
            }
        }
        if (!problem.empty()) {
            log.append(statustext::couldNotCopy(job.presetName, problem), true);
            ++failed;
        }
        log.addTransferDone();
    }
    if (failed == 0) log.append(statustext::text(statustext::copyFinished));
    std::vector<DevicePtr> affected;
    for (const auto& job : jobs) collectOnce(affected, job.from);
    for (const auto& job : jobs) collectOnce(affected, job.to);
    log.append(statustext::text(statustext::reloadingPresetLists));
    auto reload = reloadRun(reloadTargetsAfterRun(affected));
    co_await std::move(reload);
    if (failed > 0) throw RunIncomplete(statustext::presetsNotCopied(failed, static_cast<int>(jobs.size())));
    log.append(statustext::text(statustext::finished));
}

Task<void> MainController::reloadRun(std::vector<DevicePtr> devices) {
    auto& log = statusLog();
    for (const auto& device : devices) {
        auto stop = cancelled();
        if (co_await std::move(stop)) throw RunCancelled();
        if (!device) {
            log.append(statustext::text(statustext::reloadingLocalPresets));
            try {
                auto listing = listLocalFolder();
                auto list = co_await std::move(listing);
                store_.setLocalPresets(std::move(list));
            } catch (const std::exception& e) {
                log.append(statustext::failedReloadingLocalPresets(e), true);
            }
            continue;
        }
        log.append(statustext::requestingPresetList(device));
        try {
            // A lost answer is asked for again, as the runs themselves do.
            auto reload = registry_->reloadList(device, ZeltoPresetManager::kListRetries);
            auto count = co_await std::move(reload);
            log.append(statustext::receivedPresets(count, device));
        } catch (const std::exception& e) {
            log.append(statustext::failedReceivingPresetList(device, e), true);
        }
    }
}

Task<std::vector<std::string>> MainController::reloadQuietly(std::vector<DevicePtr> devices) {
    std::vector<std::string> failures;
    for (const auto& device : devices) {
        if (!device) {
            try {
                auto listing = listLocalFolder();
                auto list = co_await std::move(listing);
                store_.setLocalPresets(std::move(list));
            } catch (const std::exception& e) {
                failures.push_back(statustext::failedReloadingLocalPresets(e));
            }
            continue;
        }
        if (!registry_->holds(device)) continue;
        try {
            auto reload = registry_->reloadList(device, ZeltoPresetManager::kListRetries);
            co_await std::move(reload);
        } catch (const std::exception& e) {
            failures.push_back(statustext::failedReceivingPresetList(device, e));
        }
    }
    co_return failures;
}

void MainController::reloadPresetLists(std::vector<DevicePtr> devices, std::function<void()> done) {
    if (shutDown_) return;
    auto reload = reloadQuietly(std::move(devices));
    asio::co_spawn(mainExecutor(), std::move(reload),
                   [this, done = std::move(done)](std::exception_ptr, std::vector<std::string> failures) {
                       if (!failures.empty() && !shutDown_) {
                           std::string text = tr("Could not reload preset lists:").toStdString();
                           for (const auto& failure : failures) text += "\n" + failure;
                           ui_.showAlert(AppUi::AlertStyle::critical, text);
                       }
                       if (done) done();
                   });
}

// --- commands ----------------------------------------------------------------

void MainController::loadPreset(const DevicePtr& device, const RemoteZeltoPreset& preset) {
    if (device && registry_->holds(device)) device->loadPreset(preset);
}

void MainController::deletePresets(const std::vector<Preset>& presets) {
    if (shutDown_ || presets.empty()) return;
    // A delete and a run never overlap: neither sees the other's half-done lists.
    if (!runs_->hold()) {
        ui_.showAlert(AppUi::AlertStyle::warning, toStd(tr("Nothing was deleted: wait until the current run has ended.")));
        return;
    }
    auto deleting = deleteRun(presets);
    asio::co_spawn(mainExecutor(), std::move(deleting), [this](std::exception_ptr) { runs_->release(); });
}

Task<void> MainController::deleteOne(ZeltoPresetManager& manager, const Preset& entry) {
    if (entry.device) {
        if (!registry_->holds(entry.device))
            throw std::runtime_error(toStd(tr("the mixer %1 is no longer connected")
                                              .arg(QString::fromStdString(entry.device->description()))));
        // Fetched and kept in the history, then deleted.
        auto deleting = manager.deleteOnDevice(entry.preset.name, entry.device);
        co_await std::move(deleting);
        co_return;
    }
    auto removal = offload(pool_.executor(), [&manager, name = entry.preset.name] { manager.deleteLocalPreset(name); });
    co_await std::move(removal);
}

// One command's deletes are one operation in the history: one undo puts
// them all back. Those that could not be kept are asked about together.
Task<void> MainController::deleteRun(std::vector<Preset> presets) {
    std::vector<DevicePtr> involved;
    std::vector<std::string> failures;
    ZeltoPresetManager manager = makeManager({});
    manager.beginDeletes();
    std::vector<Preset> unkept;
    std::string unkeptDetail;
    for (const auto& entry : presets) {
        try {
            auto deleting = deleteOne(manager, entry);
            co_await std::move(deleting);
        } catch (const std::exception& e) {
            if (isUnkept(e)) {
                unkept.push_back(entry);
                unkeptDetail = errorDetail(e);
            } else {
                failures.push_back("\"" + entry.preset.name + "\": " + e.what());
            }
        }
        collectOnce(involved, entry.device);
    }
    if (!unkept.empty() && !shutDown_) {
        std::string detail = unkept.size() == 1
                                 ? unkeptDetail
                                 : toStd(tr("%1 of the presets to delete could not be kept in the history.")
                                            .arg(unkept.size()));
        auto asking = askToGoOnWithoutCopy(detail);
        if (co_await std::move(asking)) {
            manager.force = true;
            for (const auto& entry : unkept) {
                try {
                    auto deleting = deleteOne(manager, entry);
                    co_await std::move(deleting);
                } catch (const std::exception& e) {
                    failures.push_back("\"" + entry.preset.name + "\": " + e.what());
                }
            }
        } else {
            for (const auto& entry : unkept)
                failures.push_back("\"" + entry.preset.name + "\": " +
                                   toStd(tr("not deleted, as no copy of it could be kept")));
        }
    }
    if (shutDown_) co_return;
    auto pruning = offload(pool_.executor(), [&manager] {
        try {
            manager.history().prune();
        } catch (const std::exception&) {
            // Reported by the history; the deletes are done.
        }
    });
    co_await std::move(pruning);
    auto reload = reloadQuietly(std::move(involved));
    auto reloadFailures = co_await std::move(reload);
    if (shutDown_) co_return;
    refreshHistory();
    std::string text;
    if (failures.size() == 1 && presets.size() == 1 && !presets.front().device) {
        text = tr("Could not delete local preset %1")
                   .arg(QString::fromStdString(failures.front()))
                   .toStdString();
    } else if (!failures.empty()) {
        text = tr("Could not delete %1 of %n presets:", nullptr, static_cast<int>(presets.size()))
                   .arg(failures.size())
                   .toStdString();
        for (const auto& failure : failures) text += "\n" + failure;
    }
    for (const auto& failure : reloadFailures) text += (text.empty() ? "" : "\n") + failure;
    if (!text.empty()) ui_.showAlert(AppUi::AlertStyle::critical, text);
}

// --- history: undo, restore, the question -------------------------------------

bool MainController::undoLastOperation() {
    if (shutDown_) return false;
    return runs_->start([this] { return undoRun(); },
                        [this] {
                            auto devices = registry_->onlineDevices();
                            devices.push_back(nullptr);
                            return reloadRun(std::move(devices));
                        });
}

Task<void> MainController::undoRun() {
    auto& log = statusLog();
    log.append(toStd(tr("starting undo")));
    auto devices = registry_->onlineDevices();
    ZeltoPresetManager manager = makeManager(devices);
    std::optional<HistoryOperation> undone;
    bool again = false;
    std::exception_ptr failure;
    try {
        auto undo = keepingOrAsking(manager, [&]() -> Task<void> {
            // Asked again after a stop halfway: that undo counts as done in
            // the history, so what it undid is named.
            std::optional<std::string> id;
            if (std::exchange(again, true)) id = manager.lastOperation().undoes;
            auto undoing = manager.undoLastOperation(id);
            undone = co_await std::move(undoing);
        });
        co_await std::move(undo);
    } catch (const std::exception& e) {
        if (isCancel(e)) throw;
        failure = std::make_exception_ptr(RunIncomplete(errorDetail(e)));
    }
    if (!failure) {
        log.append(undone ? toStd(tr("undid the last %1").arg(operationName(undone->kind)))
                          : toStd(tr("nothing to undo")));
    }
    log.append(statustext::reloadingPresetLists);
    auto targets = reloadTargetsAfterRun(devices);
    targets.push_back(nullptr);
    auto reload = reloadRun(std::move(targets));
    co_await std::move(reload);
    if (failure) std::rethrow_exception(failure);
    log.append(statustext::finished);
}

bool MainController::restoreVersions(std::vector<HistoryEntry> versions, DevicePtr to) {
    if (shutDown_ || versions.empty()) return false;
    return runs_->start([this, versions = std::move(versions), to] { return restoreRun(versions, to); },
                        [this, to] { return reloadRun(reloadTargetsAfterRun({to})); });
}

Task<void> MainController::restoreRun(std::vector<HistoryEntry> versions, DevicePtr to) {
    auto& log = statusLog();
    log.append(toStd(tr("starting restore")));
    log.setTransfersPlanned(static_cast<int>(versions.size()));
    const QString where = to ? QString::fromStdString(to->description()) : tr("the sync folder");
    if (to && !registry_->holds(to))
        throw RunIncomplete(toStd(tr("the mixer %1 is no longer connected").arg(where)));
    ZeltoPresetManager manager = makeManager({});
    int failed = 0;
    for (const auto& version : versions) {
        auto stop = cancelled();
        if (co_await std::move(stop)) throw RunCancelled();
        log.append(toStd(tr("restoring version %1 of %2 to %3")
                            .arg(version.id)
                            .arg(QString::fromStdString(version.name), where)));
        try {
            auto restore = keepingOrAsking(manager, [&manager, &version, to]() -> Task<void> {
                auto restoring = manager.restorePreset(version, to);
                co_await std::move(restoring);
            });
            co_await std::move(restore);
        } catch (const std::exception& e) {
            if (isCancel(e)) throw;
            log.append(toStd(tr("could not restore version %1 of %2: %3")
                                .arg(version.id)
                                .arg(QString::fromStdString(version.name), QString::fromStdString(errorDetail(e)))),
                       true);
            ++failed;
        }
        log.addTransferDone();
    }
    log.append(statustext::reloadingPresetLists);
    auto reload = reloadRun(reloadTargetsAfterRun({to}));
    co_await std::move(reload);
    if (failed > 0)
        throw RunIncomplete(toStd(tr("%1 of %2 versions could not be restored").arg(failed).arg(versions.size())));
    log.append(statustext::finished);
}

Task<void> MainController::keepingOrAsking(ZeltoPresetManager& manager, std::function<Task<void>()> step) {
    std::string detail;
    try {
        auto first = step();
        co_await std::move(first);
        co_return;
    } catch (const std::exception& e) {
        if (!isUnkept(e) || manager.force) throw;
        detail = errorDetail(e);
    }
    auto asking = askToGoOnWithoutCopy(detail);
    if (!(co_await std::move(asking))) {
        auto stop = cancelled();
        if (co_await std::move(stop)) throw RunCancelled();
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cannotKeepOldPreset, detail);
    }
    if (runs_->active()) statusLog().append(toStd(tr("going on without keeping a copy, as chosen")), true);
    manager.force = true;
    auto again = step();
    co_await std::move(again);
}

Task<bool> MainController::askToGoOnWithoutCopy(std::string detail) {
    const std::string message = toStd(tr("A copy of what would be replaced or deleted cannot be kept."));
    const std::string informative =
        detail + "\n\n" +
        toStd(tr("Go on without a copy? What is replaced or deleted then cannot be brought back. "
                "The answer holds for the rest of this action."));
    const std::string goOn = toStd(tr("Go On Without a Copy"));
    const std::string stop = toStd(tr("Stop"));
    auto initiate = [this, message, informative, goOn, stop](auto handler) {
        using Handler = decltype(handler);
        // Answered once: by the user, or by a cancel of the run meanwhile.
        struct Pending {
            std::optional<Handler> handler;
            asio::cancellation_slot slot;
        };
        auto pending = std::make_shared<Pending>();
        pending->slot = asio::get_associated_cancellation_slot(handler);
        pending->handler.emplace(std::move(handler));
        auto answer = [pending, executor = mainExecutor()](bool yes) {
            if (!pending->handler) return;
            auto h = std::make_shared<Handler>(std::move(*pending->handler));
            pending->handler.reset();
            asio::post(executor, [h, yes] { std::move(*h)(yes); });
        };
        if (pending->slot.is_connected()) pending->slot.assign([answer](asio::cancellation_type) { answer(false); });
        ui_.confirm(AppUi::AlertStyle::warning, message, informative, goOn, stop, [pending, answer](bool yes) {
            // Still waited for: the cancel handler goes (it holds the waiter).
            if (!pending->handler) return;
            if (pending->slot.is_connected()) pending->slot.clear();
            answer(yes);
        });
    };
    co_return co_await asio::async_initiate<const asio::use_awaitable_t<>&, void(bool)>(std::move(initiate),
                                                                                         asio::use_awaitable);
}

void MainController::readHistory(std::function<void(HistoryListing)> done) {
    if (shutDown_) return;
    auto reading = offload(pool_.executor(), [folder = settings_.syncDirectoryPath()] {
        HistoryListing listing;
        try {
            History history(folder);
            listing.entries = history.entries();
            listing.damagedLines = history.damagedLines();
        } catch (const HistoryError& e) {
            listing.error = e.detail();
        } catch (const std::exception& e) {
            listing.error = e.what();
        }
        return listing;
    });
    asio::co_spawn(mainExecutor(), std::move(reading),
                   [this, done = std::move(done)](std::exception_ptr error, HistoryListing listing) {
                       if (shutDown_ || error) return;
                       done(std::move(listing));
                   });
}

void MainController::refreshHistory() {
    if (shutDown_) return;
    auto reading = offload(pool_.executor(), [folder = settings_.syncDirectoryPath()] {
        std::optional<std::string> kind;
        try {
            if (auto last = History(folder).lastOperation()) kind = last->kind;
        } catch (const std::exception&) {
            // A history that cannot be read has nothing to undo.
        }
        return kind;
    });
    asio::co_spawn(mainExecutor(), std::move(reading),
                   [this](std::exception_ptr error, std::optional<std::string> kind) {
                       if (shutDown_ || error) return;
                       undoable_ = std::move(kind);
                       emit historyChanged();
                   });
}

// --- comparison of contents ----------------------------------------------------

std::vector<SourceListing> MainController::mixerListings() const {
    std::vector<SourceListing> listings;
    for (const auto& source : store_.sources()) {
        if (!source->device()) continue;
        SourceListing listing{source->device(), {}};
        const auto owner = fingerprintOwner(source->device());
        for (auto& preset : source->presets()) {
            auto fingerprint = fingerprints_->lookup(owner, preset);
            listing.presets.push_back({std::move(preset), fingerprint});
        }
        listings.push_back(std::move(listing));
    }
    return listings;
}

void MainController::buildCompareGrid(std::function<void(CompareGrid)> done) {
    previewSync([done = std::move(done)](CompareGrid grid, SyncPreview) { done(std::move(grid)); });
}

void MainController::previewSync(std::function<void(CompareGrid, SyncPreview)> done) {
    if (shutDown_) return;
    auto building = offload(pool_.executor(), [folder = settings_.syncDirectoryPath(), mixers = mixerListings(),
                                               cache = folderFingerprints_]() {
        std::vector<ListedPreset> local;
        try {
            local = cache->list(folder);
        } catch (const std::exception& e) {
            qCWarning(zeltoApp) << "comparison: the folder cannot be listed:" << e.what();
        }
        auto grid = zelto::buildCompareGrid(local, mixers);
        std::vector<RemoteZeltoPreset> localList;
        for (const auto& listed : local) localList.push_back(listed.preset);
        RequiredPresets deviceLists;
        for (const auto& mixer : mixers) {
            std::vector<RemoteZeltoPreset> list;
            for (const auto& listed : mixer.presets) list.push_back(listed.preset);
            deviceLists.emplace_back(mixer.device, std::move(list));
        }
        auto preview = zelto::previewSync(grid, planSync(localList, deviceLists));
        return std::pair{std::move(grid), std::move(preview)};
    });
    asio::co_spawn(mainExecutor(), std::move(building),
                   [this, done = std::move(done)](std::exception_ptr error, std::pair<CompareGrid, SyncPreview> built) {
                       if (shutDown_ || error) return;
                       done(std::move(built.first), std::move(built.second));
                   });
}

bool MainController::compareContents() {
    if (shutDown_) return false;
    return runs_->start([this] { return compareRun(); });
}

Task<void> MainController::compareRun() {
    auto& log = statusLog();
    log.append(toStd(tr("starting compare")));
    auto devices = registry_->onlineDevices();
    ZeltoPresetManager manager = makeManager(devices);
    PresetComparer comparer(manager, fingerprints_, folderFingerprints_);
    comparer.delegate = std::make_shared<CompareEvents>(log);
    auto comparing = comparer.compare();
    auto result = co_await std::move(comparing);
    if (result.failed > 0)
        throw RunIncomplete(toStd(tr("%1 of the presets could not be fetched; their contents stay unknown")
                                      .arg(result.failed)));
    log.append(toStd(tr("compare finished: %1 presets fetched").arg(result.fetched)));
    log.append(statustext::finished);
}

void MainController::saveFingerprints() {
    if (shutDown_) return;
    auto saving = offload(pool_.executor(), [cache = fingerprints_] { return cache->save(); });
    asio::co_spawn(mainExecutor(), std::move(saving), [this](std::exception_ptr, bool) {
        if (!shutDown_) emit fingerprintsChanged();
    });
}

void MainController::readPreset(DevicePtr device, std::string name,
                                std::function<void(std::optional<ZeltoPreset>, std::string)> done) {
    if (shutDown_) return;
    auto reading = [](MainController* self, DevicePtr device, std::string name) -> Task<std::optional<ZeltoPreset>> {
        auto manager = std::make_shared<ZeltoPresetManager>(self->makeManager({}));
        RemoteZeltoPreset bytes(name);
        if (!device) {
            auto loading = offload(self->pool_.executor(), [manager, name] { return manager->loadPreset(name); });
            bytes = co_await std::move(loading);
        } else {
            if (!self->registry_->holds(device))
                throw std::runtime_error(toStd(tr("the mixer %1 is no longer connected")
                                                   .arg(QString::fromStdString(device->description()))));
            std::optional<RemoteZeltoPreset> listed;
            for (const auto& source : self->store_.sources()) {
                if (source->device() != device) continue;
                for (auto& preset : source->presets())
                    if (preset.name == name) listed = preset;
            }
            auto fetching = manager->fetchPreset(device, listed.value_or(RemoteZeltoPreset(name)));
            auto fetched = co_await std::move(fetching);
            if (!fetched) throw std::runtime_error(toStd(tr("it did not arrive from the mixer")));
            bytes = std::move(*fetched);
        }
        auto parsing = offload(self->pool_.executor(), [bytes = std::move(bytes)] { return bytes.parse(); });
        auto preset = co_await std::move(parsing);
        if (!preset) throw std::runtime_error(toStd(tr("it is not a preset document")));
        co_return preset;
    }(this, std::move(device), std::move(name));
    asio::co_spawn(mainExecutor(), std::move(reading),
                   [this, done = std::move(done)](std::exception_ptr error, std::optional<ZeltoPreset> preset) {
                       if (shutDown_) return;
                       if (!error) {
                           saveFingerprints();
                           return done(std::move(preset), {});
                       }
                       try {
                           std::rethrow_exception(error);
                       } catch (const std::exception& e) {
                           done(std::nullopt, errorDetail(e));
                       }
                   });
}

void MainController::identify(const std::vector<DevicePtr>& devices) {
    for (const auto& device : devices) {
        if (device && registry_->holds(device)) device->identify();
    }
}

// --- shutdown ----------------------------------------------------------------

bool MainController::shutDown(std::chrono::milliseconds deadline) {
    if (shutDown_) return true;
    auto end = std::chrono::steady_clock::now() + deadline;
    runs_->shutDown();
    shutDown_ = true;
    registry_->shutDown();
    // Ended waits and the cancelled run resume here; let them finish.
    bool idle = mainThread_.runUntilIdle(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
    bool drained = pool_.drain(
        std::max(std::chrono::steady_clock::duration::zero(), end - std::chrono::steady_clock::now()));
    // Completions that reached the main thread while the pool drained (a list
    // answer, a folder listing) run now; each sees the shutdown and ends.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    bool settled = mainThread_.runUntilIdle(std::clamp(left, std::chrono::milliseconds(0), std::chrono::milliseconds(1000)));
    return idle && drained && settled;
}

}  // namespace zelto
