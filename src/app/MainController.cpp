#include "app/MainController.h"

#include "app/AppSettings.h"
#include "app/NetworkPathMonitor.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"

namespace zelto {

class MainController::DeviceEvents : public ZeltoDeviceDelegate {};
class MainController::ManagerEvents : public ZeltoPresetManagerDelegate {};

MainController::MainController(IoPool& pool, DataStore& store, AppSettings& settings, AppUi& ui,
                               ControllerOptions options, QObject* parent)
    : QObject(parent),
      pool_(pool),
      store_(store),
      settings_(settings),
      ui_(ui),
      options_(std::move(options)),
      nextListenPort_(options_.firstListenPort) {}

MainController::~MainController() = default;

void MainController::start() {}
void MainController::startDiscovery() {}
void MainController::discovered(const OSCEndpoint&, const std::string&) {}
void MainController::rescanNetwork() {}
bool MainController::syncAll() { return false; }
bool MainController::copyPresets(std::vector<PresetCopyJob>) { return false; }
void MainController::reloadPresetLists(std::vector<DevicePtr>, std::function<void()>) {}
void MainController::cancelRun() {}
void MainController::loadPreset(const DevicePtr&, const RemoteZeltoPreset&) {}
void MainController::deletePresets(const std::vector<Preset>&) {}
void MainController::identify(const std::vector<DevicePtr>&) {}
bool MainController::shutDown(std::chrono::milliseconds) { return true; }

}  // namespace zelto
