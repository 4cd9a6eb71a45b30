#pragma once

#include <QObject>
#include <asio/cancellation_signal.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppUi.h"
#include "app/DataStore.h"
#include "app/MainThreadExecutor.h"
#include "app/StatusLog.h"
#include "async/Executor.h"
#include "device/ZeltoTimings.h"
#include "osc/OSCEndpoint.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

class AppSettings;
class NetworkPathMonitor;
class ZeltoDiscoverer;

// How the controller reaches the network; the defaults are the protocol's.
struct ControllerOptions {
    // Mixers asked directly on every discovery pass, besides those stored in
    // the settings (the program's command line).
    std::vector<std::string> hosts;
    // No broadcast at all: only the hosts above and in the settings are asked.
    bool noBroadcast = false;
    std::uint16_t firstListenPort = 9112;
    // Where discovery answers come back (tests may move it).
    std::uint16_t discoveryPort = 9999;
    ZeltoTimings timings;
    std::uint64_t discoveryStartTimeout = 1'000'000'000;
    std::uint64_t connectTimeout = 10'000'000'000;
    std::uint64_t presetListTimeout = 1'000'000'000;
    ZeltoPresetManager::Timeouts managerTimeouts;
    // Watch the network and rediscover on every change.
    bool monitorNetworkPath = true;
};

// The application's main loop without widgets: publishes the local sync folder
// as a source, discovers mixers, keeps one session per mixer, turns each
// online mixer's preset list into a source, and runs the long operations
// (sync of all devices, copy batches, reloads) with the status log.
//
// Everything here runs on the main thread; device and discovery events hop to
// it holding the device.
class MainController : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* localSourceName = DataStore::localSourceName;

    // `pool` runs the sockets and timers; the controller's own work runs on
    // the main thread's executor, made here. All references outlive it.
    MainController(IoPool& pool, DataStore& store, AppSettings& settings, AppUi& ui,
                   ControllerOptions options = {}, QObject* parent = nullptr);
    ~MainController() override;

    // Start-up: the sync folder's list becomes the local source (or the
    // critical alert), then discovery and the network path monitor.
    void start();
    void startDiscovery();
    // A discovery answer (the discoverer's handler; main thread).
    void discovered(const OSCEndpoint& endpoint, const std::string& uid);
    // One more discovery pass.
    void rescanNetwork();
    // Stores the addresses the user typed (AppSettings::mixerAddresses) and
    // asks them at once; every later pass asks them too.
    void setMixerAddresses(const std::vector<std::string>& addresses);

    // The long runs: each clears the status log, presents the status sheet,
    // logs its steps and finishes the log. One at a time: a run asked for
    // while another is going on is refused (false).
    bool syncAll();
    bool copyPresets(std::vector<PresetCopyJob> jobs);
    // Re-reads the lists of `devices` (null = the local folder) into the
    // store, logging each; `done` runs on the main thread at the end.
    void reloadPresetLists(std::vector<DevicePtr> devices, std::function<void()> done = {});
    // Stops the current run (the status log's Cancel does the same).
    void cancelRun();
    bool runActive() const { return runActive_; }

    // Commands of the preset and source views.
    void loadPreset(const DevicePtr& device, const RemoteZeltoPreset& preset);
    // Deletes on the devices and in the local folder (a critical alert per
    // failed local delete), then reloads each source involved once.
    void deletePresets(const std::vector<Preset>& presets);
    void identify(const std::vector<DevicePtr>& devices);

    // The orderly end (call on the main thread, before destroying the
    // controller and the pool): cancels the run, disconnects every device,
    // stops discovery and the path monitor, runs the Qt loop until nothing
    // posted or started on the main thread is left, then drains the pool.
    // True when everything ended within `deadline`.
    bool shutDown(std::chrono::milliseconds deadline = std::chrono::seconds(5));

    StatusLog& statusLog() { return statusLog_; }
    AppSettings& settings() { return settings_; }
    DataStore& dataStore() { return store_; }
    // The devices created and not yet disconnected, each once, in creation order.
    const std::vector<DevicePtr>& devices() const { return devices_; }
    ZeltoDiscoverer* discoverer() const { return discoverer_.get(); }
    MainThreadContext& mainThread() { return mainThread_; }
    MainThreadExecutor mainExecutor() { return mainThread_.executor(); }
    // The listen port the next device gets.
    std::uint16_t nextListenPort() const { return nextListenPort_; }

  signals:
    void devicesChanged();
    // A long run ended (after the log's finish).
    void runFinished();

  private:
    class DeviceEvents;
    class ManagerEvents;

    void deviceDidComeOnline(const DevicePtr& device);
    void deviceDidDisconnect(const DevicePtr& device);
    bool beginRun();
    void endRun(std::exception_ptr error);
    void discoverNow(bool userAsked);
    std::optional<std::uint16_t> takeListenPort();
    std::vector<std::string> unicastHosts() const;
    Task<void> syncRun();
    Task<void> copyRun(std::vector<PresetCopyJob> jobs);
    Task<void> reloadRun(std::vector<DevicePtr> devices);
    Task<void> comeOnline(DevicePtr device);
    Task<void> connectDevice(DevicePtr device);

    MainThreadContext mainThread_;
    IoPool& pool_;
    DataStore& store_;
    AppSettings& settings_;
    AppUi& ui_;
    ControllerOptions options_;
    StatusLog statusLog_;
    std::unique_ptr<ZeltoDiscoverer> discoverer_;
    std::unique_ptr<NetworkPathMonitor> pathMonitor_;
    std::vector<DevicePtr> devices_;
    std::uint16_t nextListenPort_;
    bool listenPortsExhausted_ = false;
    std::shared_ptr<DeviceEvents> deviceEvents_;
    std::shared_ptr<ManagerEvents> managerEvents_;
    asio::cancellation_signal cancelRun_;
    bool runActive_ = false;
    bool discoveryStarted_ = false;
    bool shutDown_ = false;
};

}  // namespace zelto
