// The controller end to end against simulated mixers on loopback addresses,
// on the main-thread executor, inside the test's own network namespace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QThread>
#include <algorithm>
#include <asio/ip/udp.hpp>
#include <filesystem>
#include <regex>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/ControllerFixture.h"
#include "app/MainController.h"
#include "app/NetworkPathMonitor.h"
#include "device/ZeltoDevice.h"
#include "support/NetNamespace.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/StatusText.h"
#include "sync/TempFolder.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

using test::kSim1;

class Controller : public test::ControllerFixture {};

std::string bytesOf(const std::string& name) {
    return std::to_string(test::presetBytes(name).size()) + " bytes";
}

TEST_F(Controller, AnOnlineMixerIsOneSourceNamedByItsDescriptionUntilItFallsSilent) {
    rig.add({{"A", test::presetBytes("A")}}, {"--silent-after", "3"});
    int removed = 0;
    QObject::connect(&store, &DataStore::DataStoreSourceRemoved, [&](auto source) {
        EXPECT_EQ(source->name(), kSim1);
        ++removed;
    });
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    ASSERT_EQ(controller->devices().size(), 1u) << "discovered, then online: still one device";
    auto device = controller->devices()[0];
    EXPECT_EQ(device->listenPort(), 9112);
    EXPECT_EQ(source(kSim1)->device(), device);
    EXPECT_EQ(source(kSim1)->presets().size(), 3u);
    ASSERT_TRUE(source(MainController::localSourceName));

    // A second answer from the same unit, direct or through a new pass, adds nothing.
    controller->discovered(OSCEndpoint{"127.0.0.2", 9110}, "uid-1");
    controller->rescanNetwork();
    EXPECT_EQ(controller->devices().size(), 1u);

    ASSERT_TRUE(waitUntil([&] { return removed == 1; }, 15s));
    EXPECT_EQ(source(kSim1), nullptr);
    EXPECT_TRUE(controller->devices().empty());
}

TEST_F(Controller, ListenPortsCountUpAndSkipAPortTakenByAnotherProgram) {
    asio::io_context io;
    asio::ip::udp::socket taken(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), 9112));
    rig.add({});
    rig.add({});
    start(options());
    ASSERT_TRUE(waitUntil([&] { return store.sources().size() == 3; }));
    std::vector<std::uint16_t> ports;
    for (auto& d : controller->devices()) ports.push_back(d->listenPort());
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (std::vector<std::uint16_t>{9113, 9114}));
    EXPECT_EQ(controller->nextListenPort(), 9115);
}

TEST_F(Controller, SyncOfAllDevicesWritesItsLinesInOrder) {
    rig.add({{"A", test::presetBytes("A")}});
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());

    auto lines = log();
    auto localAfter = statustext::formatPresetList(ZeltoPresetManager::localPresetList(folder.path()));
    localAfter = std::regex_replace(localAfter, std::regex(R"( \*\[[^\]]*\])"), "");
    std::vector<std::string> expected = {
        "starting sync",
        "requesting local preset list",
        "received local preset list:",
        "[\n\tL\n]",
        "requesting preset list from " + kSim1,
        "received preset list from " + kSim1 + ":",
        "[\n\tA\n]",
        "required remote presets: " + kSim1 + "\n[\n\tA\n]",
        "requested preset A from " + kSim1,
        "received preset A " + bytesOf("A") + " from " + kSim1,
        "writing preset to disk A " + bytesOf("A"),
        "requesting local preset list",
        "received local preset list:",
        localAfter,
        "sent preset L " + bytesOf("L") + " to " + kSim1 + " overwriting no",
        "preset manager sync finish",
        "sync finished",
        "reloading preset lists",
        "requesting preset list from " + kSim1,
        "received # presets from " + kSim1,
        "reloading local presets",
        "finished!",
    };
    ASSERT_EQ(lines.size(), expected.size()) << testing::PrintToString(lines);
    // The mixer may not have stored L yet when it is asked again.
    lines[19] = std::regex_replace(lines[19], std::regex("received [34] presets"), "received # presets");
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"A.ZELTOshow", "L.ZELTOshow"}));
    EXPECT_EQ(controller->statusLog().transfersDone(), 2);
    EXPECT_EQ(controller->statusLog().transfersPlanned(), 2);
    EXPECT_EQ(ui.sheets, 1);
}

TEST_F(Controller, CopyBatchReloadsEachDistinctSourceOnce) {
    rig.add({{"A", test::presetBytes("A")}, {"B", test::presetBytes("B")}});
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    auto device = controller->devices()[0];
    ASSERT_TRUE(controller->copyPresets({{device, nullptr, "A"}, {device, nullptr, "B"}}));
    EXPECT_FALSE(controller->syncAll()) << "one run at a time";
    ASSERT_TRUE(runEnds());
    auto lines = log();
    auto reload = std::find(lines.begin(), lines.end(), "reloading preset lists");
    ASSERT_NE(reload, lines.end()) << testing::PrintToString(lines);
    EXPECT_EQ(std::vector<std::string>(reload, lines.end()),
              (std::vector<std::string>{"reloading preset lists", "requesting preset list from " + kSim1,
                                        "received 4 presets from " + kSim1, "reloading local presets",
                                        "finished!"}));
    EXPECT_EQ(lines[1], "copying A from " + kSim1 + " to local");
    EXPECT_EQ(source(MainController::localSourceName)->presets().size(), 2u);
}

TEST_F(Controller, UnreadableSyncFolderRaisesTheAlertAndTheMixersStillCome) {
    rig.add({});
    settings.setSyncDirectoryPath(folder.path() + "missing/");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return !ui.alerts.empty(); }));
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].first, AppUi::AlertStyle::critical);
    EXPECT_EQ(ui.alerts[0].second.rfind("Couldn't load local preset list: ", 0), 0u);
    EXPECT_TRUE(ui.alerts[0].second.ends_with(
        "\nPlease consider resetting your local sync directory in the app settings!"));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    EXPECT_EQ(store.sources().size(), 1u);
}

TEST_F(Controller, CancelInTheMiddleOfASyncWritesNoFile) {
    auto& mixer = rig.add({{"Big", test::presetBytes("Big", 20000)}});
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    QObject::connect(&controller->statusLog(), &StatusLog::lineAppended, [&](const QString& text, bool) {
        if (text.startsWith("requested preset Big")) {
            mixer.sim->pause();
            controller->statusLog().cancel();
        }
    });
    ASSERT_TRUE(controller->syncAll());
    auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(runEnds());
    mixer.sim->resume();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::cancelled);
    auto lines = log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "cancelled"), lines.end()) << testing::PrintToString(lines);
    EXPECT_TRUE(folder.entries().empty());
}

TEST_F(Controller, ShutDownEndsSessionsThatAreStillConnecting) {
    start(options());
    controller->discovered(OSCEndpoint{"127.0.0.9", 9110}, "nobody");  // never answers: 10 s connect
    ASSERT_EQ(controller->devices().size(), 1u);
    auto device = controller->devices()[0];
    ASSERT_TRUE(waitUntil([&] { return device->connected(); }));
    QCoreApplication::exit(0);  // the program shuts down after its loop was told to quit
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(controller->shutDown());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_TRUE(controller->devices().empty());
}

TEST_F(Controller, TheLastListenPortIsUsedOnceAndNeverWrapped) {
    auto o = options();
    o.firstListenPort = 65535;
    start(std::move(o));
    controller->discovered(OSCEndpoint{"127.0.0.8", 9110}, "a");
    controller->discovered(OSCEndpoint{"127.0.0.9", 9110}, "b");
    ASSERT_EQ(controller->devices().size(), 1u);
    EXPECT_EQ(controller->devices()[0]->listenPort(), 65535);
}

TEST_F(Controller, APathChangeRunsADiscoveryPass) {
    rig.add({});
    auto o = options();
    o.hosts.clear();
    o.monitorNetworkPath = true;
    start(std::move(o));
    settings.setMixerAddresses({"127.0.0.2"});
    ASSERT_EQ(test::runCommand("ip link add va type veth peer name vb && ip addr add 10.9.0.1/24 dev va && "
                               "ip link set va up && ip link set vb up"),
              0);
    EXPECT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
}

TEST(NetworkPathMonitor, ABurstOfChangesIsOnePathUpdateOnTheMainThread) {
    IoPool pool(1);
    MainThreadContext context;
    NetworkPathMonitor monitor(pool.context(), context.executor(), 300ms);
    int updates = 0;
    bool onMain = true;
    monitor.start([&] {
        ++updates;
        onMain = onMain && QThread::currentThread() == qApp->thread();
    });
    std::string burst;
    for (int i = 1; i <= 8; ++i) burst += "addr add 127.1.0." + std::to_string(i) + "/32 dev lo\n";
    ASSERT_EQ(test::runCommand("printf '" + burst + "' | ip -batch -"), 0);
    ASSERT_TRUE(waitUntil([&] { return updates >= 1; }));
    ASSERT_EQ(test::runCommand("ip addr add 127.2.0.1/32 dev lo"), 0);
    ASSERT_TRUE(waitUntil([&] { return updates >= 2; }));
    EXPECT_EQ(updates, 2);
    EXPECT_TRUE(onMain);
    monitor.cancel();
    ASSERT_EQ(test::runCommand("ip addr add 127.3.0.1/32 dev lo"), 0);
    EXPECT_TRUE(context.runUntilIdle(2s));
    pool.drain(2s);
    EXPECT_EQ(updates, 2);
}

}  // namespace
}  // namespace zelto
