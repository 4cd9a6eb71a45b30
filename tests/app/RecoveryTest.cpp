// The application recovers by itself from lost answers and mixers switched
// off, and tells the truth about every run: the controller against simulated
// mixers with faults, inside the test's own network namespace.
#include <gtest/gtest.h>

#include <QTimer>
#include <thread>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/ControllerFixture.h"
#include "app/MainController.h"
#include "device/ZeltoDevice.h"
#include "support/SimProcess.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/PresetFiles.h"
#include "sync/StatusText.h"
#include "sync/TempFolder.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

using test::kSim1;
using test::kSim2;

class Recovery : public test::ControllerFixture {
  protected:
    // Quick retries and a quick folder.
    ControllerOptions options() {
        auto o = ControllerFixture::options();
        o.retryPause = 100ms;
        o.connectTimeout = 1'000'000'000;
        o.folderSettle = 50ms;
        return o;
    }
    void TearDown() override {
        presetfiles::setAccessHook({});
        ControllerFixture::TearDown();
    }
};

TEST_F(Recovery, AMixerWhoseFirstListAnswerIsLostAppearsAfterARetryAndCountsAsConnectedMeanwhile) {
    rig.add({{"A", test::presetBytes("A")}}, {"--ignore-list-requests", "1", "--list-delay", "300"});
    start(options());
    // Connected before its list has arrived: the status bar counts it.
    ASSERT_TRUE(waitUntil([&] { return controller->onlineMixerCount() == 1; }));
    EXPECT_EQ(source(kSim1), nullptr);
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    EXPECT_EQ(names(kSim1).size(), 3u);
    EXPECT_EQ(controller->devices().size(), 1u) << "the same session, asked again";
}

TEST_F(Recovery, AFailedConnectTearsTheSessionDownAndTriesAgainWithAGrowingPause) {
    auto& mixer = rig.add({{"A", test::presetBytes("A")}});
    mixer.sim->pause();  // switched off: the first connects time out
    auto o = options();
    o.connectTimeout = 300'000'000;
    start(std::move(o));
    // Its answer came just before it was switched off.
    controller->discovered(OSCEndpoint{mixer.address, 9110}, "uid-1");
    std::vector<std::chrono::milliseconds> pauses;
    ASSERT_TRUE(waitUntil([&] {
        if (auto pause = controller->mixers().pendingRetry("uid-1");
            pause && (pauses.empty() || pauses.back() != *pause)) {
            pauses.push_back(*pause);
            EXPECT_TRUE(controller->devices().empty()) << "torn down while it waits";
        }
        return pauses.size() == 3;
    }, 10s));
    EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms}));
    mixer.sim->resume();
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }, 10s));
    EXPECT_EQ(controller->devices().size(), 1u);
    EXPECT_EQ(controller->devices()[0]->listenPort(), 9112) << "a retried mixer keeps its port";
}

TEST_F(Recovery, AMixerSwitchedOffAndOnComesBackWithoutAnyActionAndAtOnceAfterF5) {
    rig.add({{"A", test::presetBytes("A")}}, {"--offline-after", "0.5", "--offline-for", "1.5"});
    auto o = options();
    o.timings.discoveryInterval = 500ms;  // it comes back on the next pass
    start(std::move(o));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) == nullptr; }, 5s)) << "silent: removed";
    EXPECT_EQ(controller->onlineMixerCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }, 10s)) << "back on a discovery answer";

    // Switched off for good, and on again by hand: F5 brings it back at once.
    rig.mixers[0].sim->pause();
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) == nullptr; }, 5s));
    rig.mixers[0].sim->resume();
    controller->rescanNetwork();
    EXPECT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }, 5s));
}

TEST_F(Recovery, F5AsksEveryMixerForItsListAgainAndTheFolderIsWatched) {
    auto& mixer = rig.add({{"A", test::presetBytes("A")}});
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    auto bytes = test::presetBytes("B");
    mixer.folder->write("B.ZELTOshow", std::string(bytes.begin(), bytes.end()));
    controller->rescanNetwork();
    EXPECT_TRUE(waitUntil([&] { return names(kSim1).size() == 4; }));

    // Another program writes, replaces and removes files: the local source follows.
    writeLocal("L");
    EXPECT_TRUE(waitUntil([&] { return names(MainController::localSourceName) == std::vector<std::string>{"L"}; },
                          2s));
    std::filesystem::rename(folder.path() + "L.ZELTOshow", folder.path() + "M.ZELTOshow");
    EXPECT_TRUE(waitUntil([&] { return names(MainController::localSourceName) == std::vector<std::string>{"M"}; },
                          2s));
}

TEST_F(Recovery, ASyncsProgressComesFromItsPlanAndNeverExceedsIt) {
    rig.add({{"A", test::presetBytes("A")}});
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    int most = 0, planned = 0;
    QObject::connect(&controller->statusLog(), &StatusLog::transfersChanged, [&](int done, int plan) {
        most = std::max(most, done);
        planned = plan;
        EXPECT_LE(done, plan);
    });
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::succeeded)
        << testing::PrintToString(errorLines());
    EXPECT_EQ(planned, 2) << "fetch A, send L";
    EXPECT_EQ(most, 2);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"A.ZELTOshow", "L.ZELTOshow"}));
}

TEST_F(Recovery, SyncWaitsForAMixerStillConnectingAndLeavesOutOneThatNeverAnswers) {
    rig.add({});
    rig.add({});
    writeLocal("L");
    auto o = options();
    o.hosts = {rig.mixers[0].address};  // the second is found just before the sync
    o.connectTimeout = 1'500'000'000;
    start(std::move(o));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    controller->discovered(OSCEndpoint{rig.mixers[1].address, 9110}, "uid-2");
    controller->discovered(OSCEndpoint{"127.0.0.9", 9110}, "nobody");
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());
    const auto& lines = controller->statusLog().lines();
    auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.text == text; });
    };
    EXPECT_TRUE(has("left out 127.0.0.9:9110: it did not come online"));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](auto& l) {
        return l.text.starts_with("sent preset L") && l.text.ends_with("to " + kSim2 + " overwriting no");
    })) << "the mixer found just before the sync was waited for";
}

TEST_F(Recovery, CancelEndsAsCancelledAndTheListsShowWhatWasWrittenBeforeIt) {
    rig.add({{"A", test::presetBytes("A")}, {"B", test::presetBytes("B")}, {"Big", test::presetBytes("Big", 20000)}});
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    QObject::connect(&controller->statusLog(), &StatusLog::lineAppended, [&](const QString& text, bool) {
        if (text.startsWith("requested preset Big")) controller->statusLog().cancel();
    });
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::cancelled);
    EXPECT_TRUE(errorLines().empty()) << testing::PrintToString(errorLines());
    EXPECT_EQ(controller->statusLog().lines().back().text, "reloading local presets");
    // What was written before the cancel shows: the folder was read again.
    std::vector<std::string> written;
    for (auto& entry : folder.entries()) written.push_back(entry.substr(0, entry.size() - 10));
    EXPECT_EQ(names(MainController::localSourceName), written);
    EXPECT_EQ(std::count(written.begin(), written.end(), "Big"), 0);
}

TEST_F(Recovery, EachCopyItemThatCannotBeDoneIsARedLineAndTheRunFails) {
    rig.add({{"A", test::presetBytes("A")}});
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    auto mixer = controller->devices()[0];
    // A mixer that has gone: known to nobody, and no session is opened for it.
    auto gone = ZeltoDevice::make(pool.context(), OSCEndpoint{"127.0.0.9", 9110}, 9200, "gone", {});
    ASSERT_TRUE(controller->copyPresets({{mixer, nullptr, "A"},
                                         {gone, nullptr, "X"},
                                         {nullptr, mixer, "a/b", "its name holds \"/\""},
                                         {nullptr, mixer, "L"}}));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::failed);
    EXPECT_EQ(errorLines(), (std::vector<std::string>{
                                "could not copy \"X\": the mixer 127.0.0.9:9110 is no longer connected",
                                "could not copy \"a/b\": its name holds \"/\"",
                                "failed! 2 of 4 presets could not be copied",
                            }));
    EXPECT_FALSE(gone->connected());
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"A.ZELTOshow", "L.ZELTOshow"}));
}

TEST_F(Recovery, DeletesThatFailMakeOneAlertAndNoLineInTheNextRun) {
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return !names(MainController::localSourceName).empty(); }));
    controller->statusLog().append("earlier run");
    controller->deletePresets({{nullptr, RemoteZeltoPreset("missing1")},
                               {nullptr, RemoteZeltoPreset("missing2")},
                               {nullptr, RemoteZeltoPreset("L")}});
    ASSERT_TRUE(waitUntil([&] { return !ui.alerts.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return names(MainController::localSourceName).empty(); }));
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].second.rfind("Could not delete 2 of 3 presets:\n\"missing1\": ", 0), 0u)
        << ui.alerts[0].second;
    EXPECT_NE(ui.alerts[0].second.find("\n\"missing2\": "), std::string::npos);
    EXPECT_EQ(controller->statusLog().lines().size(), 1u) << "nothing went into a run's log";
}

TEST_F(Recovery, ASlowFolderNeverStopsTheMainThread) {
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return !names(MainController::localSourceName).empty(); }));
    presetfiles::setAccessHook([] { std::this_thread::sleep_for(400ms); });  // a disk that answers slowly
    int ticks = 0;
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, [&] { ++ticks; });
    repaint.start(20ms);
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());
    auto took = std::chrono::steady_clock::now() - started;
    presetfiles::setAccessHook({});
    ASSERT_GT(took, 800ms) << "the folder was slow";
    // Every 20 ms while the run took its time: at least half the frames came.
    EXPECT_GT(ticks, took / 20ms / 2);
}

TEST_F(Recovery, SyncAllAgainstAMixerThatKeepsDroppingAPresetEndsAsFailedWithTheMissingPresetInRed) {
    rig.add({}, test::SimFaults{.dropPresets = 1 + ZeltoPresetManager::kSendRetries}.arguments());
    writeLocal("L");
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    ASSERT_TRUE(controller->syncAll());
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::failed);
    auto errors = errorLines();
    EXPECT_NE(std::find(errors.begin(), errors.end(), "preset L did not arrive on " + kSim1), errors.end())
        << testing::PrintToString(errors);
    for (const auto& line : controller->statusLog().lines())
        EXPECT_NE(line.text, statustext::syncFinished) << "a sync with a missing preset did not finish";
    EXPECT_EQ(names(kSim1), (std::vector<std::string>{"default (PRESET)", "defaultOFF (PRESET)"}));
}

}  // namespace
}  // namespace zelto
