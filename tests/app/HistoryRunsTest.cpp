// Undo, restores and deletes through the history, as the desktop application
// runs them: the controller against simulated mixers inside the test's own
// network namespace.
#include <gtest/gtest.h>

#include <QTimer>

#include "app/ControllerFixture.h"
#include "support/SimProcess.h"
#include "sync/History.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::fileBytes;
using test::kSim1;
using test::presetBytes;
using test::waitUntil;

class HistoryRuns : public test::ControllerFixture {
  protected:
    ControllerOptions options() {
        auto o = ControllerFixture::options();
        o.folderSettle = 50ms;
        return o;
    }
    // For conditions on files, which post nothing that would wake the loop.
    static bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        QTimer tick;
        tick.start(20ms);
        return waitUntil(done, limit);
    }
    void writeLocal(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        folder.write(name + ".ZELTOshow", std::string(bytes.begin(), bytes.end()));
    }
    std::vector<std::uint8_t> local(const std::string& name) { return fileBytes(folder.path() + name + ".ZELTOshow"); }
    std::vector<std::uint8_t> onMixer(const std::string& name) {
        return fileBytes(rig.mixers[0].folder->path() + name + ".ZELTOshow");
    }
    std::vector<std::string> mixerFiles() { return rig.mixers[0].folder->entries(); }
    std::vector<std::string> localFiles() { return folder.entries(); }
    void runSucceeds() {
        ASSERT_TRUE(runEnds());
        ASSERT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::succeeded)
            << testing::PrintToString(errorLines());
    }
    void undo(const std::string& kind) {
        ASSERT_TRUE(waitUntil([&] { return controller->undoableKind() == kind; }))
            << "Undo offers " << controller->undoableKind().value_or("nothing");
        ASSERT_TRUE(controller->undoLastOperation());
        runSucceeds();
    }
    DevicePtr mixer() { return controller->devices().at(0); }
};

TEST_F(HistoryRuns, UndoAfterACopyASyncAndADeleteGivesBackTheStateBeforeInTheFolderAndOnTheMixer) {
    const auto mixerSong = presetBytes("Song on mixer"), localSong = presetBytes("Song local");
    const auto onlyMixer = presetBytes("OnlyMixer");
    rig.add({{"Song", mixerSong}, {"OnlyMixer", onlyMixer}});
    writeLocal("Song", localSong);
    writeLocal("OnlyLocal", presetBytes("OnlyLocal"));
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    const auto mixerBefore = mixerFiles();
    const auto localBefore = localFiles();

    // A copy that replaces the mixer's Song, and one that replaces the folder's.
    ASSERT_TRUE(controller->copyPresets({{nullptr, mixer(), "Song"}}));
    runSucceeds();
    ASSERT_TRUE(eventually([&] { return onMixer("Song") == localSong; }));
    undo("copy");
    EXPECT_TRUE(eventually([&] { return onMixer("Song") == mixerSong; }));
    ASSERT_TRUE(controller->copyPresets({{mixer(), nullptr, "Song"}}));
    runSucceeds();
    ASSERT_EQ(local("Song"), mixerSong);
    undo("copy");
    EXPECT_EQ(local("Song"), localSong);

    // A sync that adds on both sides.
    ASSERT_TRUE(controller->syncAll());
    runSucceeds();
    ASSERT_NE(mixerFiles(), mixerBefore);
    ASSERT_NE(localFiles(), localBefore);
    undo("sync");
    EXPECT_TRUE(eventually([&] { return mixerFiles() == mixerBefore; })) << testing::PrintToString(mixerFiles());
    EXPECT_EQ(localFiles(), localBefore);
    EXPECT_EQ(names(MainController::localSourceName), (std::vector<std::string>{"OnlyLocal", "Song"}));

    // One delete command on the mixer and in the folder: kept, and one undo brings both back.
    controller->deletePresets({{mixer(), RemoteZeltoPreset("OnlyMixer")}, {nullptr, RemoteZeltoPreset("Song")}});
    ASSERT_TRUE(eventually([&] { return controller->undoableKind() == "delete" && localFiles().size() == 1; }));
    ASSERT_TRUE(eventually([&] { return mixerFiles() != mixerBefore; }));
    EXPECT_TRUE(ui.alerts.empty()) << ui.alerts[0].second;
    auto kept = History(folder.path()).entries("OnlyMixer");
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().event, HistoryEvent::deleted);
    EXPECT_EQ(kept.back().location.serial, "SN1");
    EXPECT_EQ(History(folder.path()).bytesOf(kept.back()), onlyMixer);
    undo("delete");
    EXPECT_TRUE(eventually([&] { return mixerFiles() == mixerBefore; }));
    EXPECT_EQ(onMixer("OnlyMixer"), onlyMixer);
    EXPECT_EQ(local("Song"), localSong);
    EXPECT_TRUE(ui.questions.empty()) << "every preset could be kept";
}

TEST_F(HistoryRuns, AVersionTheCommandLineToolKeptIsRestoredToTheMixerAndToTheFolder) {
    const auto localSong = presetBytes("Song local");
    rig.add({{"Song", presetBytes("Song on mixer")}});
    writeLocal("Song", localSong);
    auto deleted = test::runProcess({test::builtProgram("zelto"), "delete", "Song", "--from", "local", "--dir",
                                     folder.path()});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));

    std::optional<HistoryListing> listing;
    controller->readHistory([&](HistoryListing l) { listing = std::move(l); });
    ASSERT_TRUE(waitUntil([&] { return listing.has_value(); }));
    ASSERT_FALSE(listing->error);
    ASSERT_EQ(listing->entries.size(), 1u);
    const HistoryEntry version = listing->entries[0];
    EXPECT_EQ(version.name, "Song");

    ASSERT_TRUE(controller->restoreVersions({version}, mixer()));
    runSucceeds();
    EXPECT_TRUE(eventually([&] { return onMixer("Song") == localSong; }));
    ASSERT_TRUE(controller->restoreVersions({version}, nullptr));
    runSucceeds();
    EXPECT_EQ(local("Song"), localSong);
    EXPECT_EQ(names(MainController::localSourceName), (std::vector<std::string>{"Song"}));
    // What the restore replaced on the mixer is kept in turn.
    auto song = History(folder.path()).entries("Song");
    EXPECT_TRUE(std::any_of(song.begin(), song.end(), [](auto& e) { return e.location.mixer; }));
}

TEST_F(HistoryRuns, WhenNoCopyCanBeKeptTheUserIsAskedAndOnlyAYesGoesOn) {
    // The mixer leaves three requests for a preset unanswered: the first fetch
    // with its retries fails, the next one succeeds.
    const auto mixerSong = presetBytes("Song on mixer");
    rig.add({{"Song", mixerSong}, {"OnlyMixer", presetBytes("OnlyMixer")}},
            test::SimFaults{.ignorePresetRequests = 1 + ZeltoPresetManager::kFetchRetries}.arguments());
    writeLocal("Song", presetBytes("Song local"));
    auto o = options();
    o.managerTimeouts.preset = 300'000'000;
    start(std::move(o));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));

    // A replacing copy whose pre-fetch fails, and the answer is no: nothing changes.
    ui.confirmAnswer = false;
    ASSERT_TRUE(controller->copyPresets({{nullptr, mixer(), "Song"}}));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::failed);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_NE(ui.questions[0].find("\"Song\""), std::string::npos) << ui.questions[0];
    EXPECT_EQ(rig.mixers[0].sim->countLines("presetDelete"), 0);
    EXPECT_EQ(onMixer("Song"), mixerSong);

    // The faults are used up: the same copy now keeps the old preset without a question.
    ASSERT_TRUE(controller->copyPresets({{nullptr, mixer(), "Song"}}));
    runSucceeds();
    EXPECT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(History(folder.path()).entries("Song").size(), 1u);
}

TEST_F(HistoryRuns, ADeleteWhosePresetCannotBeKeptGoesOnAfterAYes) {
    rig.add({{"OnlyMixer", presetBytes("OnlyMixer")}},
            test::SimFaults{.ignorePresetRequests = 2 * (1 + ZeltoPresetManager::kFetchRetries)}.arguments());
    auto o = options();
    o.managerTimeouts.preset = 300'000'000;
    start(std::move(o));
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    const auto before = mixerFiles();

    ui.confirmAnswer = false;
    controller->deletePresets({{mixer(), RemoteZeltoPreset("OnlyMixer")}});
    ASSERT_TRUE(waitUntil([&] { return !ui.alerts.empty(); }));
    EXPECT_NE(ui.alerts[0].second.find("\"OnlyMixer\": not deleted"), std::string::npos) << ui.alerts[0].second;
    EXPECT_EQ(mixerFiles(), before);

    ui.confirmAnswer = true;
    controller->deletePresets({{mixer(), RemoteZeltoPreset("OnlyMixer")}});
    ASSERT_TRUE(eventually([&] { return mixerFiles() != before; }));
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.alerts.size(), 1u);
}

TEST_F(HistoryRuns, TheHistoryKeepsAsManyVersionsPerNameAsTheSettingsSay) {
    settings.setHistoryVersionsPerName(1);
    rig.add({{"Song", presetBytes("Song on mixer")}});
    writeLocal("Song", presetBytes("Song 1"));
    start(options());
    ASSERT_TRUE(waitUntil([&] { return source(kSim1) != nullptr; }));
    for (const char* replaced : {"Song 1", "Song 2"}) {
        writeLocal("Song", presetBytes(replaced));
        ASSERT_TRUE(controller->copyPresets({{mixer(), nullptr, "Song"}}));
        runSucceeds();
    }
    History history(folder.path());
    auto kept = history.entries("Song");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(history.bytesOf(kept[0]), presetBytes("Song 2"));
}

}  // namespace
}  // namespace zelto
