#pragma once

#include <QObject>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ControllerOptions.h"
#include "app/DataStore.h"
#include "app/MainThreadExecutor.h"
#include "async/Executor.h"
#include "osc/OSCEndpoint.h"

class QTimer;

namespace zelto {

class AppSettings;
class AppUi;
class NetworkPathMonitor;
class ZeltoDiscoverer;

// The mixers of the application: discovery (and the network path monitor
// that starts a pass on every change), one session per mixer with its listen
// port, and each online mixer's preset list as a source of the data store.
//
// Nothing is lost to one dropped datagram or a mixer switched off: a mixer
// whose connect or first list request fails is tried again after a pause that
// doubles from `ControllerOptions::retryPause` up to the discovery interval. A
// failed connect tears the session down first, so a discovery answer in the
// meantime starts afresh. A mixer whose session falls silent is removed, and
// comes back on its next discovery answer.
//
// Main thread only. Nothing here throws: failures are logged and retried,
// except the discoverer's start, which raises the critical alert.
class MixerRegistry : public QObject {
    Q_OBJECT
  public:
    MixerRegistry(IoPool& pool, MainThreadContext& mainThread, DataStore& store, AppSettings& settings,
                  AppUi& ui, const ControllerOptions& options, QObject* parent = nullptr);
    ~MixerRegistry() override;

    // The discoverer and its first pass, then the network path monitor.
    void start();
    // A discovery answer (the discoverer's handler).
    void discovered(const OSCEndpoint& endpoint, const std::string& uid);
    // A discovery pass, and the list of every online mixer asked for again.
    void rescan();
    // A discovery pass, with the current unicast hosts.
    void discoverNow();

    // The devices created and not yet disconnected, each once, in creation order.
    const std::vector<DevicePtr>& devices() const { return devices_; }
    bool holds(const DevicePtr& device) const;
    // Mixers whose session is open and has heard them, whether or not their
    // list has arrived yet.
    std::vector<DevicePtr> onlineDevices() const;
    int onlineCount() const { return static_cast<int>(onlineDevices().size()); }
    // Devices still connecting (created, not yet online).
    std::vector<DevicePtr> connectingDevices() const;
    // Waits until no device is connecting any more, or until `limit` passed.
    Task<void> waitForConnecting(std::chrono::nanoseconds limit);

    // Reads `device`'s list into the store (adding its source when it has
    // none) and returns how many presets it lists. A lost answer is asked
    // for again up to `retries` times; throws what the last request throws.
    Task<std::size_t> reloadList(DevicePtr device, int retries = 0);

    ZeltoDiscoverer* discoverer() const { return discoverer_.get(); }
    std::uint16_t nextListenPort() const { return nextListenPort_; }
    // How long the next retry of `uid` waits; none when none is due.
    std::optional<std::chrono::milliseconds> pendingRetry(const std::string& uid) const;

    // Ends every session, stops discovery and the path monitor, cancels the
    // retries; nothing starts afterwards.
    void shutDown();

  signals:
    // A device was added or removed, or came online.
    void devicesChanged();

  private:
    class DeviceEvents;
    struct Mixer {
        DevicePtr device;
        OSCEndpoint endpoint;
        std::string uid;
        bool online = false;
    };
    struct Retry {
        int attempts = 0;
        QTimer* timer = nullptr;
    };

    void startDiscovery();
    std::vector<std::string> unicastHosts() const;
    std::optional<std::uint16_t> listenPortFor(const std::string& uid);
    Task<void> connectDevice(DevicePtr device);
    void connectFailed(const DevicePtr& device, std::exception_ptr error);
    void deviceDidComeOnline(const DevicePtr& device);
    void deviceDidDisconnect(const DevicePtr& device);
    void fetchFirstList(const DevicePtr& device);
    Task<void> firstList(DevicePtr device);
    void retryLater(const std::string& uid, std::function<void()> attempt);
    void succeeded(const std::string& uid);
    Mixer* find(const DevicePtr& device);
    const Mixer* find(const DevicePtr& device) const;
    bool forget(const DevicePtr& device);
    void changed();

    IoPool& pool_;
    MainThreadContext& mainThread_;
    DataStore& store_;
    AppSettings& settings_;
    AppUi& ui_;
    const ControllerOptions& options_;
    std::unique_ptr<ZeltoDiscoverer> discoverer_;
    std::unique_ptr<NetworkPathMonitor> pathMonitor_;
    std::vector<Mixer> mixers_;
    std::vector<DevicePtr> devices_;
    std::map<std::string, std::uint16_t> portOfUid_;
    std::map<std::string, Retry> retries_;
    // Waits of waitForConnecting, woken on every change.
    std::vector<asio::steady_timer*> waiters_;
    std::uint16_t nextListenPort_;
    bool listenPortsExhausted_ = false;
    std::shared_ptr<DeviceEvents> deviceEvents_;
    bool discoveryStarted_ = false;
    bool shutDown_ = false;
};

}  // namespace zelto
