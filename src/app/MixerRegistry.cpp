#include "app/MixerRegistry.h"

#include <QTimer>
#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <mutex>

#include "app/AppSettings.h"
#include "app/AppUi.h"
#include "app/Logging.h"
#include "app/NetworkPathMonitor.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {

namespace {

void info(const std::string& line) {
    qCInfo(zeltoApp).noquote() << QString::fromStdString(line);
}

void warning(const std::string& line) {
    qCWarning(zeltoApp).noquote() << QString::fromStdString(line);
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

// A port nobody holds: the device session binds it a moment later.
bool listenPortIsFree(asio::io_context& io, std::uint16_t port) {
    asio::ip::udp::socket probe(io);
    std::error_code ec;
    probe.open(asio::ip::udp::v4(), ec);
    if (ec) return false;
    probe.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), port), ec);
    return !ec;
}

}  // namespace

// Device events arrive on each device's queue; they hop to the main thread
// holding the device. Closed at shutdown so nothing is posted afterwards.
class MixerRegistry::DeviceEvents : public ZeltoDeviceDelegate {
  public:
    DeviceEvents(MixerRegistry& registry, MainThreadExecutor executor)
        : registry_(&registry), executor_(std::move(executor)) {}

    void deviceDidComeOnline(ZeltoDevice& device) override {
        forward(device, &MixerRegistry::deviceDidComeOnline);
    }
    void deviceDidDisconnect(ZeltoDevice& device, std::exception_ptr) override {
        forward(device, &MixerRegistry::deviceDidDisconnect);
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }

  private:
    void forward(ZeltoDevice& device, void (MixerRegistry::*handler)(const DevicePtr&)) {
        // Null while the device is being destroyed: then nobody holds it any more.
        auto held = device.weak_from_this().lock();
        if (!held) return;
        std::lock_guard lock(mutex_);
        if (closed_) return;
        asio::post(executor_, [registry = registry_, handler, held] { (registry->*handler)(held); });
    }

    MixerRegistry* registry_;
    MainThreadExecutor executor_;
    std::mutex mutex_;
    bool closed_ = false;
};

MixerRegistry::MixerRegistry(IoPool& pool, MainThreadContext& mainThread, DataStore& store,
                             AppSettings& settings, AppUi& ui, const ControllerOptions& options,
                             QObject* parent)
    : QObject(parent),
      pool_(pool),
      mainThread_(mainThread),
      store_(store),
      settings_(settings),
      ui_(ui),
      options_(options),
      nextListenPort_(options.firstListenPort),
      deviceEvents_(std::make_shared<DeviceEvents>(*this, mainThread.executor())) {}

MixerRegistry::~MixerRegistry() {
    shutDown();
}

// --- discovery -------------------------------------------------------------

void MixerRegistry::start() {
    startDiscovery();
    if (!options_.monitorNetworkPath || shutDown_) return;
    pathMonitor_ = std::make_unique<NetworkPathMonitor>(pool_.context(), mainThread_.executor());
    try {
        pathMonitor_->start([this] { discoverNow(); });
    } catch (const std::exception& e) {
        warning(std::string("network path monitor could not be started: ") + e.what());
    }
}

std::vector<std::string> MixerRegistry::unicastHosts() const {
    std::vector<std::string> hosts = settings_.mixerAddresses();
    for (const auto& host : options_.hosts) {
        if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
    }
    return hosts;
}

void MixerRegistry::startDiscovery() {
    if (shutDown_) return;
    discoverer_ = std::make_unique<ZeltoDiscoverer>(
        pool_.context(), mainThread_.executor(),
        [this](const OSCEndpoint& endpoint, const std::string& uid) { discovered(endpoint, uid); },
        options_.timings);
    discoverer_->setListenPort(options_.discoveryPort);
    discoverer_->setUnicastHosts(unicastHosts());
    discoverer_->setBroadcast(!options_.noBroadcast);
    try {
        discoverer_->start(options_.discoveryStartTimeout);
    } catch (const std::exception& e) {
        discoveryStarted_ = false;
        ui_.showAlert(
            AppUi::AlertStyle::critical,
            tr("Discoverer could not be started: %1").arg(QString::fromStdString(e.what())).toStdString());
        return;
    }
    discoveryStarted_ = true;
    discoverer_->discover();
}

// A discoverer that could not start (its port was taken) is started again:
// it would never hear an answer otherwise.
void MixerRegistry::discoverNow() {
    if (shutDown_ || !discoverer_) return;
    if (!discoveryStarted_) {
        try {
            discoverer_->start(options_.discoveryStartTimeout);
            discoveryStarted_ = true;
        } catch (const std::exception& e) {
            warning(std::string("discoverer could not be started: ") + e.what());
            return;
        }
    }
    discoverer_->setUnicastHosts(unicastHosts());
    discoverer_->discover();
}

void MixerRegistry::rescan() {
    if (shutDown_) return;
    if (!discoverer_ || !discoveryStarted_) {
        startDiscovery();
    } else {
        discoverNow();
    }
    for (const auto& device : onlineDevices()) {
        auto reload = reloadList(device);
        asio::co_spawn(mainThread_.executor(), std::move(reload), [device](std::exception_ptr error, std::size_t) {
            if (error) warning("preset list of " + device->description() + " failed: " + errorText(error));
        });
    }
}

// A uid keeps its listen port across retries, so a mixer that comes and goes
// does not walk through the port range.
std::optional<std::uint16_t> MixerRegistry::listenPortFor(const std::string& uid) {
    if (auto known = portOfUid_.find(uid); known != portOfUid_.end()) {
        if (listenPortIsFree(pool_.context(), known->second)) return known->second;
    }
    if (listenPortsExhausted_) return std::nullopt;
    for (std::uint32_t port = nextListenPort_; port <= 65535; ++port) {
        if (!listenPortIsFree(pool_.context(), static_cast<std::uint16_t>(port))) {
            warning("listen port " + std::to_string(port) + " is taken, trying the next one");
            continue;
        }
        if (port == 65535)
            listenPortsExhausted_ = true;
        else
            nextListenPort_ = static_cast<std::uint16_t>(port + 1);
        portOfUid_[uid] = static_cast<std::uint16_t>(port);
        return static_cast<std::uint16_t>(port);
    }
    listenPortsExhausted_ = true;
    warning("no free listen port left above " + std::to_string(options_.firstListenPort) +
               "; no more devices can be connected");
    return std::nullopt;
}

void MixerRegistry::discovered(const OSCEndpoint& endpoint, const std::string& uid) {
    if (shutDown_) return;
    for (const auto& mixer : mixers_) {
        if (mixer.uid == uid) return;
    }
    // An answer in the middle of a pause starts afresh at once.
    if (auto retry = retries_.find(uid); retry != retries_.end() && retry->second.timer) {
        retry->second.timer->stop();
    }
    info("discovered device " + endpoint.host + " " + std::to_string(endpoint.port) + " " + uid);
    auto port = listenPortFor(uid);
    if (!port) return;
    auto device = ZeltoDevice::make(pool_.context(), endpoint, *port, uid, options_.timings);
    if (!device) return;
    device->setDelegate(deviceEvents_);
    mixers_.push_back(Mixer{device, endpoint, uid});
    devices_.push_back(device);
    changed();

    auto connecting = connectDevice(device);
    asio::co_spawn(mainThread_.executor(), std::move(connecting), [this, device](std::exception_ptr error) {
        if (error)
            connectFailed(device, error);
        else
            info("successfully connected to " + device->description());
    });
}

// --- device lifecycle --------------------------------------------------------

// Started one turn later: a shutdown in between must not open a session that
// it can no longer end.
Task<void> MixerRegistry::connectDevice(DevicePtr device) {
    if (shutDown_) throw ZeltoDeviceError(ZeltoDeviceError::Case::deviceIsOffline);
    auto connecting = device->connect(options_.connectTimeout);
    co_await std::move(connecting);
}

void MixerRegistry::connectFailed(const DevicePtr& device, std::exception_ptr error) {
    warning("ZeltoDevice connection error: " + errorText(error));
    if (shutDown_) return;
    const Mixer* mixer = find(device);
    if (!mixer) return;
    const OSCEndpoint endpoint = mixer->endpoint;
    const std::string uid = mixer->uid;
    forget(device);
    device->disconnect();
    retryLater(uid, [this, endpoint, uid] { discovered(endpoint, uid); });
}

void MixerRegistry::deviceDidComeOnline(const DevicePtr& device) {
    Mixer* mixer = find(device);
    if (shutDown_ || !mixer) return;
    if (!mixer->online) {
        mixer->online = true;
        changed();
    }
    fetchFirstList(device);
}

void MixerRegistry::fetchFirstList(const DevicePtr& device) {
    auto listing = firstList(device);
    asio::co_spawn(mainThread_.executor(), std::move(listing), [](std::exception_ptr) {});
}

Task<void> MixerRegistry::firstList(DevicePtr device) {
    try {
        auto reload = reloadList(device);
        co_await std::move(reload);
    } catch (const std::exception& e) {
        warning(std::string("preset list of ") + device->description() + " failed: " + e.what());
        const Mixer* mixer = find(device);
        if (!mixer || shutDown_) co_return;
        retryLater(mixer->uid, [this, device] {
            if (find(device) && device->connected()) fetchFirstList(device);
        });
        co_return;
    }
    if (const Mixer* mixer = find(device)) succeeded(mixer->uid);
}

Task<std::size_t> MixerRegistry::reloadList(DevicePtr device, int retries) {
    std::vector<RemoteZeltoPreset> list;
    for (int attempt = 0;; ++attempt) {
        try {
            auto request = device->requestPresetList(options_.presetListTimeout);
            list = co_await std::move(request);
            break;
        } catch (const OSCConnectionError& e) {
            if (e.errorCase() != OSCConnectionError::Case::readTimeout || attempt >= retries) throw;
        }
    }
    const std::size_t count = list.size();
    // Gone while the list was on its way: no source for a device we dropped.
    if (shutDown_ || !find(device)) co_return count;
    for (const auto& source : store_.sources()) {
        if (source->device() == device) {
            store_.setPresets(std::move(list), device);
            co_return count;
        }
    }
    store_.addSource(std::make_shared<PresetSource>(device->description(), device, std::move(list)));
    co_return count;
}

void MixerRegistry::deviceDidDisconnect(const DevicePtr& device) {
    info("disconnected " + device->description());
    forget(device);
}

// --- retries -----------------------------------------------------------------

void MixerRegistry::retryLater(const std::string& uid, std::function<void()> attempt) {
    if (shutDown_) return;
    Retry& retry = retries_[uid];
    if (!retry.timer) {
        retry.timer = new QTimer(this);
        retry.timer->setSingleShot(true);
    }
    auto ceiling = std::chrono::duration_cast<std::chrono::milliseconds>(options_.timings.discoveryInterval);
    auto pause = options_.retryPause;
    for (int i = 0; i < retry.attempts && pause < ceiling; ++i) pause *= 2;
    pause = std::max(std::chrono::milliseconds(1), std::min(pause, ceiling));
    ++retry.attempts;
    retry.timer->disconnect();
    connect(retry.timer, &QTimer::timeout, this, [this, attempt = std::move(attempt)] {
        if (!shutDown_) attempt();
    });
    retry.timer->start(pause);
    info("trying " + uid + " again in " + std::to_string(pause.count()) + " ms");
}

void MixerRegistry::succeeded(const std::string& uid) {
    auto retry = retries_.find(uid);
    if (retry == retries_.end()) return;
    if (retry->second.timer) retry->second.timer->deleteLater();
    retries_.erase(retry);
}

std::optional<std::chrono::milliseconds> MixerRegistry::pendingRetry(const std::string& uid) const {
    auto retry = retries_.find(uid);
    if (retry == retries_.end() || !retry->second.timer || !retry->second.timer->isActive()) return std::nullopt;
    return std::chrono::milliseconds(retry->second.timer->interval());
}

// --- state -------------------------------------------------------------------

MixerRegistry::Mixer* MixerRegistry::find(const DevicePtr& device) {
    auto it = std::find_if(mixers_.begin(), mixers_.end(), [&](const Mixer& m) { return m.device == device; });
    return it == mixers_.end() ? nullptr : &*it;
}

const MixerRegistry::Mixer* MixerRegistry::find(const DevicePtr& device) const {
    return const_cast<MixerRegistry*>(this)->find(device);
}

bool MixerRegistry::holds(const DevicePtr& device) const {
    return find(device) != nullptr;
}

bool MixerRegistry::forget(const DevicePtr& device) {
    store_.removeSources(device);
    auto removed = std::erase_if(mixers_, [&](const Mixer& m) { return m.device == device; });
    std::erase(devices_, device);
    if (removed > 0) changed();
    return removed > 0;
}

void MixerRegistry::changed() {
    for (auto* waiter : waiters_) waiter->cancel();
    emit devicesChanged();
}

std::vector<DevicePtr> MixerRegistry::onlineDevices() const {
    std::vector<DevicePtr> result;
    for (const auto& mixer : mixers_)
        if (mixer.online) result.push_back(mixer.device);
    return result;
}

std::vector<DevicePtr> MixerRegistry::connectingDevices() const {
    std::vector<DevicePtr> result;
    for (const auto& mixer : mixers_)
        if (!mixer.online) result.push_back(mixer.device);
    return result;
}

Task<void> MixerRegistry::waitForConnecting(std::chrono::nanoseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    asio::steady_timer timer(pool_.context());
    waiters_.push_back(&timer);
    struct Unregister {
        std::vector<asio::steady_timer*>& waiters;
        asio::steady_timer* timer;
        ~Unregister() { std::erase(waiters, timer); }
    } unregister{waiters_, &timer};
    while (!shutDown_ && !connectingDevices().empty() && std::chrono::steady_clock::now() < deadline) {
        timer.expires_at(deadline);
        std::error_code ec;
        co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    }
}

// --- shutdown ----------------------------------------------------------------

void MixerRegistry::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    deviceEvents_->close();
    for (auto& [uid, retry] : retries_)
        if (retry.timer) retry.timer->stop();
    for (auto* waiter : waiters_) waiter->cancel();
    if (pathMonitor_) pathMonitor_->cancel();
    if (discoverer_) {
        discoverer_->setNewDeviceHandler({});
        discoverer_->stop();
    }
    auto mixers = std::move(mixers_);
    mixers_.clear();
    devices_.clear();
    for (const auto& mixer : mixers) {
        store_.removeSources(mixer.device);
        mixer.device->disconnect();
    }
}

}  // namespace zelto
