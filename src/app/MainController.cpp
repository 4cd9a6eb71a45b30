#include "app/MainController.h"

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/this_coro.hpp>
#include <set>

#include "app/AppSettings.h"
#include "app/FolderWatcher.h"
#include "async/Offload.h"
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
      managerEvents_(std::make_shared<ManagerEvents>(runs_->statusLog())) {
    connect(registry_.get(), &MixerRegistry::devicesChanged, this, &MainController::devicesChanged);
    connect(runs_.get(), &RunCoordinator::runFinished, this, &MainController::runFinished);
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
    return runs_->active();
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
                auto copy = manager.copyPreset(job.presetName, job.from, job.to);
                co_await std::move(copy);
            } catch (const std::exception& e) {
                if (isCancel(e)) throw;
                problem = statustext::errorText(e);
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
    auto deleting = deleteRun(presets);
    asio::co_spawn(mainExecutor(), std::move(deleting), [](std::exception_ptr) {});
}

Task<void> MainController::deleteRun(std::vector<Preset> presets) {
    std::vector<DevicePtr> involved;
    std::vector<std::string> failures;
    const std::string folder = settings_.syncDirectoryPath();
    for (const auto& entry : presets) {
        if (entry.device) {
            if (!registry_->holds(entry.device)) {
                failures.push_back(tr("\"%1\": the mixer %2 is no longer connected")
                                       .arg(QString::fromStdString(entry.preset.name),
                                            QString::fromStdString(entry.device->description()))
                                       .toStdString());
                continue;
            }
            entry.device->deletePreset(entry.preset);
        } else {
            try {
                auto removal = offload(pool_.executor(), [name = entry.preset.name, folder] {
                    ZeltoPresetManager::deletePreset(name, folder);
                });
                co_await std::move(removal);
            } catch (const std::exception& e) {
                failures.push_back("\"" + entry.preset.name + "\": " + e.what());
            }
        }
        collectOnce(involved, entry.device);
    }
    auto reload = reloadQuietly(std::move(involved));
    auto reloadFailures = co_await std::move(reload);
    if (shutDown_) co_return;
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
