#include "app/MainController.h"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/co_spawn.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <cstdio>
#include <mutex>
#include <set>

#include "app/AppSettings.h"
#include "app/NetworkPathMonitor.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "sync/StatusText.h"

namespace zelto {

namespace {

void diagnostic(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string errorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

bool sameDevice(const DevicePtr& a, const DevicePtr& b) {
    return a == b || (a && b && *a == *b);
}

// A port nobody holds: the device session binds it a moment later.
bool listenPortIsFree(asio::io_context& io, std::uint16_t port) {
    asio::ip::udp::socket probe(io);
    std::error_code ec;
    probe.open(asio::ip::udp::v4(), ec);
    if (ec) return false;
    probe.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), port), ec);
    return !ec;
}

Task<bool> cancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

class RunCancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace

// Device events arrive on each device's queue; they hop to the main thread
// holding the device. Closed at shutdown so nothing is posted afterwards.
class MainController::DeviceEvents : public ZeltoDeviceDelegate {
  public:
    explicit DeviceEvents(MainController& controller)
        : controller_(&controller), executor_(controller.mainExecutor()) {}

    void deviceDidComeOnline(ZeltoDevice& device) override {
        forward(device, &MainController::deviceDidComeOnline);
    }
    void deviceDidDisconnect(ZeltoDevice& device, std::exception_ptr) override {
        forward(device, &MainController::deviceDidDisconnect);
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }

  private:
    void forward(ZeltoDevice& device, void (MainController::*handler)(const DevicePtr&)) {
        // Null while the device is being destroyed: then nobody holds it any more.
        auto held = device.weak_from_this().lock();
        if (!held) return;
        std::lock_guard lock(mutex_);
        if (closed_) return;
        asio::post(executor_, [controller = controller_, handler, held] { (controller->*handler)(held); });
    }

    MainController* controller_;
    MainThreadExecutor executor_;
    std::mutex mutex_;
    bool closed_ = false;
};

// The preset manager's events as status lines, plus the transfer count.
// Called on the main thread (the manager runs in a coroutine there).
class MainController::ManagerEvents : public statustext::StatusTextDelegate {
  public:
    explicit ManagerEvents(StatusLog& log) : log_(log) {}

    void reset() {
        localNames_.clear();
        deviceLists_.clear();
        requiredKnown_ = false;
    }
    void statusLine(const std::string& text, bool isError) override { log_.append(text, isError); }

    void presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                           const DevicePtr& from) override {
        StatusTextDelegate::presetManagerDidReceivePresetList(list, from);
        if (from) {
            deviceLists_.push_back(names(list));
        } else if (!requiredKnown_) {
            localNames_ = names(list);
        } else {
            // The folder after the fetches: every preset a device lacks is sent.
            int sends = 0;
            for (const auto& deviceNames : deviceLists_) {
                for (const auto& name : names(list)) sends += deviceNames.count(name) == 0;
            }
            log_.addTransfersPlanned(sends);
        }
    }
    void presetManagerDidDetermineRequiredPresets(const RequiredPresets& required) override {
        StatusTextDelegate::presetManagerDidDetermineRequiredPresets(required);
        requiredKnown_ = true;
        int fetches = 0;
        for (const auto& entry : required) {
            for (const auto& preset : entry.second) fetches += localNames_.count(preset.name) == 0;
        }
        log_.addTransfersPlanned(fetches);
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

  private:
    static std::set<std::string> names(const std::vector<RemoteZeltoPreset>& list) {
        std::set<std::string> result;
        for (const auto& preset : list) result.insert(preset.name);
        return result;
    }

    StatusLog& log_;
    std::set<std::string> localNames_;
    std::vector<std::set<std::string>> deviceLists_;
    bool requiredKnown_ = false;
};

MainController::MainController(IoPool& pool, DataStore& store, AppSettings& settings, AppUi& ui,
                               ControllerOptions options, QObject* parent)
    : QObject(parent),
      pool_(pool),
      store_(store),
      settings_(settings),
      ui_(ui),
      options_(std::move(options)),
      nextListenPort_(options_.firstListenPort),
      deviceEvents_(std::make_shared<DeviceEvents>(*this)),
      managerEvents_(std::make_shared<ManagerEvents>(statusLog_)) {
    connect(&statusLog_, &StatusLog::cancelRequested, this, &MainController::cancelRun);
}

MainController::~MainController() {
    shutDown();
}

// --- start-up and discovery ----------------------------------------------

void MainController::start() {
    std::string path = settings_.syncDirectoryPath();
    try {
        store_.setLocalPresets(ZeltoPresetManager::localPresetList(path));
    } catch (const std::exception& e) {
        ui_.showAlert(AppUi::AlertStyle::critical,
                      std::string("Couldn't load local preset list: ") + e.what() +
                          "\nPlease consider resetting your local sync directory in the app settings!");
    }
    startDiscovery();
    if (!options_.monitorNetworkPath) return;
    pathMonitor_ = std::make_unique<NetworkPathMonitor>(pool_.context(), mainExecutor());
    try {
        pathMonitor_->start([this] { discoverNow(false); });
    } catch (const std::exception& e) {
        diagnostic(std::string("network path monitor could not be started: ") + e.what());
    }
}

std::vector<std::string> MainController::unicastHosts() const {
    std::vector<std::string> hosts = settings_.mixerAddresses();
    for (const auto& host : options_.hosts) {
        if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
    }
    return hosts;
}

void MainController::startDiscovery() {
    if (shutDown_) return;
    discoverer_ = std::make_unique<ZeltoDiscoverer>(
        pool_.context(), mainExecutor(),
        [this](const OSCEndpoint& endpoint, const std::string& uid) { discovered(endpoint, uid); },
        options_.timings);
    discoverer_->setListenPort(options_.discoveryPort);
    discoverer_->setUnicastHosts(unicastHosts());
    discoverer_->setBroadcast(!options_.noBroadcast);
    try {
        discoverer_->start(options_.discoveryStartTimeout);
    } catch (const std::exception& e) {
        discoveryStarted_ = false;
        ui_.showAlert(AppUi::AlertStyle::critical,
                      std::string("Discoverer could not be started: ") + e.what());
        return;
    }
    discoveryStarted_ = true;
    discoverer_->discover();
}

void MainController::rescanNetwork() {
    discoverNow(true);
}

void MainController::setMixerAddresses(const std::vector<std::string>& addresses) {
    settings_.setMixerAddresses(addresses);
    discoverNow(false);
}

// A discoverer that could not start (its port was taken) is started again:
// it would never hear an answer otherwise.
void MainController::discoverNow(bool userAsked) {
    if (shutDown_ || !discoverer_) return;
    if (!discoveryStarted_) {
        if (userAsked) {
            startDiscovery();
            return;
        }
        try {
            discoverer_->start(options_.discoveryStartTimeout);
            discoveryStarted_ = true;
        } catch (const std::exception&) {
        }
    }
    discoverer_->setUnicastHosts(unicastHosts());
    discoverer_->discover();
}

std::optional<std::uint16_t> MainController::takeListenPort() {
    if (listenPortsExhausted_) return std::nullopt;
    for (std::uint32_t port = nextListenPort_; port <= 65535; ++port) {
        if (!listenPortIsFree(pool_.context(), static_cast<std::uint16_t>(port))) {
            diagnostic("listen port " + std::to_string(port) + " is taken, trying the next one");
            continue;
        }
        return static_cast<std::uint16_t>(port);
    }
    listenPortsExhausted_ = true;
    diagnostic("no free listen port left above " + std::to_string(options_.firstListenPort) +
               "; no more devices can be connected");
    return std::nullopt;
}

void MainController::discovered(const OSCEndpoint& endpoint, const std::string& uid) {
    if (shutDown_) return;
    for (const auto& device : devices_) {
        if (device->uid() == uid) return;
    }
    diagnostic("discovered device " + endpoint.host + " " + std::to_string(endpoint.port) + " " + uid);
    auto port = takeListenPort();
    if (!port) return;
    auto device = ZeltoDevice::make(pool_.context(), endpoint, *port, uid, options_.timings);
    if (!device) return;
    if (*port == 65535)
        listenPortsExhausted_ = true;
    else
        nextListenPort_ = static_cast<std::uint16_t>(*port + 1);
    device->setDelegate(deviceEvents_);
    devices_.push_back(device);
    emit devicesChanged();

    asio::co_spawn(mainExecutor(), connectDevice(device), [device](std::exception_ptr error) {
        if (error)
            diagnostic("ZeltoDevice connection error: " + errorText(error));
        else
            diagnostic("successfully connected to " + device->description());
    });
}

// --- device lifecycle -----------------------------------------------------

// Started one turn later: a shutdown in between must not open a session that
// it can no longer end.
Task<void> MainController::connectDevice(DevicePtr device) {
    if (shutDown_) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
    auto connecting = device->connect(options_.connectTimeout);
    co_await std::move(connecting);
}

void MainController::deviceDidComeOnline(const DevicePtr& device) {
    if (shutDown_) return;
    asio::co_spawn(mainExecutor(), comeOnline(device), [](std::exception_ptr) {});
}

Task<void> MainController::comeOnline(DevicePtr device) {
    std::vector<RemoteZeltoPreset> list;
    try {
        auto request = device->requestPresetList(options_.presetListTimeout);
        list = co_await std::move(request);
    } catch (const std::exception& e) {
        diagnostic(std::string("preset list of ") + device->description() + " failed: " + e.what());
        co_return;
    }
    // Gone while the list was on its way: no source for a device we dropped.
    if (shutDown_ || std::find(devices_.begin(), devices_.end(), device) == devices_.end()) co_return;
    for (const auto& source : store_.sources()) {
        if (source->device() == device) {
            store_.setPresets(std::move(list), device);
            co_return;
        }
    }
    store_.addSource(std::make_shared<PresetSource>(device->description(), device, std::move(list)));
}

void MainController::deviceDidDisconnect(const DevicePtr& device) {
    diagnostic("disconnected " + device->description());
    store_.removeSources(device);
    auto removed = std::erase(devices_, device);
    if (removed > 0) emit devicesChanged();
}

// --- long runs ------------------------------------------------------------

bool MainController::beginRun() {
    if (runActive_ || shutDown_) return false;
    runActive_ = true;
    managerEvents_->reset();
    ui_.presentStatusSheet();
    statusLog_.clear();
    return true;
}

void MainController::endRun(std::exception_ptr error) {
    if (error) statusLog_.append("failed! " + errorText(error), true);
    runActive_ = false;
    statusLog_.finish();
    emit runFinished();
}

// Qt's `emit` keyword is a macro; Asio's signal has a member of that name.
#pragma push_macro("emit")
#undef emit
void MainController::cancelRun() {
    if (runActive_) cancelRun_.emit(asio::cancellation_type::terminal);
}
#pragma pop_macro("emit")

bool MainController::syncAll() {
    if (!beginRun()) return false;
    asio::co_spawn(
        mainExecutor(), syncRun(),
        asio::bind_cancellation_slot(cancelRun_.slot(), [this](std::exception_ptr error) { endRun(error); }));
    return true;
}

Task<void> MainController::syncRun() {
    statusLog_.append(statustext::startingSync);
    ZeltoPresetManager manager(devices_, settings_.syncDirectoryPath());
    manager.delegate = managerEvents_;
    manager.timeouts = options_.managerTimeouts;
    try {
        auto sync = manager.syncDevices();
        co_await std::move(sync);
    } catch (const std::exception& e) {
        statusLog_.append(statustext::failed(e), true);
        co_return;
    }
    statusLog_.append(statustext::syncFinished);
    statusLog_.append(statustext::reloadingPresetLists);
    auto devices = reloadRun(devices_);
    co_await std::move(devices);
    auto local = reloadRun({nullptr});
    co_await std::move(local);
    statusLog_.append(statustext::finished);
}

bool MainController::copyPresets(std::vector<PresetCopyJob> jobs) {
    if (!beginRun()) return false;
    asio::co_spawn(
        mainExecutor(), copyRun(std::move(jobs)),
        asio::bind_cancellation_slot(cancelRun_.slot(), [this](std::exception_ptr error) { endRun(error); }));
    return true;
}

Task<void> MainController::copyRun(std::vector<PresetCopyJob> jobs) {
    statusLog_.append(statustext::startingCopy);
    statusLog_.setTransfersPlanned(static_cast<int>(jobs.size()));
    ZeltoPresetManager manager({}, settings_.syncDirectoryPath());
    manager.delegate = managerEvents_;
    manager.timeouts = options_.managerTimeouts;
    for (const auto& job : jobs) {
        try {
            auto stop = cancelled();
            if (co_await std::move(stop)) throw RunCancelled();
            statusLog_.append(statustext::copying(job.presetName, job.from, job.to));
            auto copy = manager.copyPreset(job.presetName, job.from, job.to);
            co_await std::move(copy);
        } catch (const std::exception& e) {
            statusLog_.append(statustext::failed(e), true);
            co_return;
        }
        statusLog_.addTransferDone();
    }
    statusLog_.append(statustext::copyFinished);
    std::vector<DevicePtr> affected;
    auto collect = [&affected](const DevicePtr& device) {
        for (const auto& known : affected) {
            if (sameDevice(known, device)) return;
        }
        affected.push_back(device);
    };
    for (const auto& job : jobs) collect(job.from);
    for (const auto& job : jobs) collect(job.to);
    statusLog_.append(statustext::reloadingPresetLists);
    auto reload = reloadRun(std::move(affected));
    co_await std::move(reload);
    statusLog_.append(statustext::finished);
}

void MainController::reloadPresetLists(std::vector<DevicePtr> devices, std::function<void()> done) {
    if (shutDown_) return;
    asio::co_spawn(mainExecutor(), reloadRun(std::move(devices)),
                   [done = std::move(done)](std::exception_ptr) {
                       if (done) done();
                   });
}

Task<void> MainController::reloadRun(std::vector<DevicePtr> devices) {
    for (const auto& device : devices) {
        auto stop = cancelled();
        if (co_await std::move(stop)) throw RunCancelled();
        if (!device) {
            statusLog_.append(statustext::reloadingLocalPresets);
            try {
                store_.setLocalPresets(ZeltoPresetManager::localPresetList(settings_.syncDirectoryPath()));
            } catch (const std::exception& e) {
                statusLog_.append(statustext::failedReloadingLocalPresets(e), true);
            }
            continue;
        }
        statusLog_.append(statustext::requestingPresetList(device));
        std::vector<RemoteZeltoPreset> list;
        try {
            auto request = device->requestPresetList(options_.presetListTimeout);
            list = co_await std::move(request);
        } catch (const std::exception& e) {
            statusLog_.append(statustext::failedReceivingPresetList(device, e), true);
            continue;
        }
        statusLog_.append(statustext::receivedPresets(list.size(), device));
        store_.setPresets(std::move(list), device);
    }
}

// --- commands -------------------------------------------------------------

void MainController::loadPreset(const DevicePtr& device, const RemoteZeltoPreset& preset) {
    if (device) device->loadPreset(preset);
}

void MainController::deletePresets(const std::vector<Preset>& presets) {
    std::vector<DevicePtr> involved;
    auto collect = [&involved](const DevicePtr& device) {
        for (const auto& known : involved) {
            if (sameDevice(known, device)) return;
        }
        involved.push_back(device);
    };
    for (const auto& entry : presets) {
        if (entry.device) {
            entry.device->deletePreset(entry.preset);
        } else {
            try {
                ZeltoPresetManager::deletePreset(entry.preset.name, settings_.syncDirectoryPath());
            } catch (const std::exception& e) {
                ui_.showAlert(AppUi::AlertStyle::critical,
                              "Could not delete local preset \"" + entry.preset.name + "\": " + e.what());
            }
        }
        collect(entry.device);
    }
    reloadPresetLists(std::move(involved));
}

void MainController::identify(const std::vector<DevicePtr>& devices) {
    for (const auto& device : devices) {
        if (device) device->identify();
    }
}

// --- shutdown -------------------------------------------------------------

bool MainController::shutDown(std::chrono::milliseconds deadline) {
    if (shutDown_) return true;
    auto end = std::chrono::steady_clock::now() + deadline;
    cancelRun();
    shutDown_ = true;
    deviceEvents_->close();
    if (pathMonitor_) pathMonitor_->cancel();
    if (discoverer_) {
        discoverer_->setNewDeviceHandler({});
        discoverer_->stop();
    }
    auto devices = std::move(devices_);
    devices_.clear();
    for (const auto& device : devices) {
        store_.removeSources(device);
        device->disconnect();
    }
    // Ended waits and the cancelled run resume here; let them finish.
    bool idle = mainThread_.runUntilIdle(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
    devices.clear();
    bool drained = pool_.drain(
        std::max(std::chrono::steady_clock::duration::zero(), end - std::chrono::steady_clock::now()));
    return idle && drained;
}

}  // namespace zelto
