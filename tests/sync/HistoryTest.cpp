// The history of the sync folder, without mixers.
#include "sync/History.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sync/PresetFiles.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using test::TempFolder;
using Clock = std::chrono::system_clock;

RemoteZeltoPreset preset(const std::string& name, const std::string& content) {
    RemoteZeltoPreset p("");
    p.name = name;
    p.bytes = RemoteZeltoPreset::Bytes(content.begin(), content.end());
    return p;
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(HistoryFolder, AReplaceAndADeleteKeepEveryOldVersionUnderOneOperationEach) {
    TempFolder dir;
    dir.write("Song.ZELTOshow", "one");
    ZeltoPresetManager manager({}, dir.path());
    ASSERT_FALSE(manager.writePresetToLocal(preset("Song", "two")).error);
    ASSERT_FALSE(manager.writePresetToLocal(preset("Song", "three")).error);
    manager.deleteLocalPreset("Song");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "Song.ZELTOshow"));

    History history(dir.path());
    auto entries = history.entries("Song");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(text(history.bytesOf(entries[0])), "one");
    EXPECT_EQ(text(history.bytesOf(entries[1])), "two");
    EXPECT_EQ(text(history.bytesOf(entries[2])), "three");
    EXPECT_EQ(entries[2].event, HistoryEvent::deleted);
    EXPECT_LT(entries[0].id, entries[1].id);
    EXPECT_LT(entries[1].id, entries[2].id);
    EXPECT_FALSE(entries[2].location.mixer);
    EXPECT_NE(entries[1].operation.id, entries[2].operation.id);
    EXPECT_EQ(history.lastOperation()->kind, "delete");

    // Restoring keeps nothing when nothing is there, and records the add.
    history.restoreToFolder(entries[1], HistoryOperation::make("restore"));
    EXPECT_EQ(dir.read("Song.ZELTOshow"), "two");
    EXPECT_EQ(history.entries("Song").back().event, HistoryEvent::added);
}

TEST(HistoryFolder, IdenticalContentIsStoredOnceAndTheListingIgnoresTheHistory) {
    TempFolder dir;
    ZeltoPresetManager manager({}, dir.path());
    for (int i = 0; i < 3; ++i) {
        dir.write("A.ZELTOshow", "same");
        manager.deleteLocalPreset("A");
    }
    // Even a name in the history that looks like a preset stays out of the listing.
    dir.write(".zelto-history/Trap.ZELTOshow", "x");
    std::filesystem::create_directory(dir.path() + "Folder.ZELTOshow");
    EXPECT_TRUE(ZeltoPresetManager::localPresetList(dir.path()).empty());
    std::size_t objects = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path() + ".zelto-history/objects")) {
        objects += e.path().filename().string().front() != '.';
    }
    EXPECT_EQ(objects, 1u);
    EXPECT_EQ(History(dir.path()).entries("A").size(), 3u);
}

// A child replaces a file and is killed at step k; the old bytes must survive
// under the name or in the history, and the name never holds a partial file.
TEST(HistoryFolder, AKillBetweenAnyTwoStepsOfAReplaceOrDeleteNeverLosesTheOldFile) {
    for (bool deleting : {false, true}) {
        for (int k = 0; k <= 5; ++k) {
            TempFolder dir;
            dir.write("P.ZELTOshow", "old bytes");
            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int at = 0;
                presetfiles::setAccessHook([&] {
                    if (k == 0) ::raise(SIGKILL);
                });
                History::setStepHook([&](int step) {
                    at = step;
                    if (step == k) ::raise(SIGKILL);
                });
                ZeltoPresetManager manager({}, dir.path());
                if (deleting) {
                    if (k == 0) ::raise(SIGKILL);
                    manager.deleteLocalPreset("P");
                } else {
                    auto outcome = manager.writePresetToLocal(preset("P", "new bytes"));
                    if (outcome.error) ::_exit(3);
                }
                ::_exit(at >= 3 ? 0 : 4);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            bool finished = WIFEXITED(status);
            if (finished) {
                EXPECT_EQ(WEXITSTATUS(status), 0) << "k=" << k;
            }
            std::string now = dir.read("P.ZELTOshow");
            bool oldInPlace = now == "old bytes";
            bool oldKept = false;
            std::error_code ec;
            for (auto& e : std::filesystem::directory_iterator(dir.path() + ".zelto-history/objects", ec)) {
                std::ifstream in(e.path(), std::ios::binary);
                oldKept = oldKept || std::string(std::istreambuf_iterator<char>(in), {}) == "old bytes";
            }
            EXPECT_TRUE(oldInPlace || oldKept) << "deleting=" << deleting << " k=" << k;
            if (!deleting) {
                EXPECT_TRUE(now == "old bytes" || now == "new bytes") << "k=" << k << ": " << now;
            }
            if (finished) {
                EXPECT_TRUE(oldKept);
                EXPECT_EQ(History(dir.path()).entries("P").size(), 1u) << "k=" << k;
            }
        }
    }
}

TEST(HistoryPruning, KeepsTheNewestVersionsOfANameAndTheByteLimitButNeverARecentDeletion) {
    TempFolder dir;
    auto op = HistoryOperation::make("copy");
    auto mixer = HistoryLocation{true, "Sim", "SN1", "uid-1", "127.0.0.2"};
    HistoryLimits limits;
    limits.versionsPerName = 3;
    History history(dir.path(), limits);
    for (int i = 0; i < 5; ++i)
        history.keepBytes("Many", mixer, bytes("version " + std::to_string(i)), HistoryEvent::replaced, "r", op);
    EXPECT_EQ(history.prune(), 2u);
    auto many = history.entries("Many");
    ASSERT_EQ(many.size(), 3u);
    EXPECT_EQ(text(history.bytesOf(many.front())), "version 2");

    limits.totalBytes = 1000;
    History bounded(dir.path(), limits);
    bounded.keepBytes("Old", mixer, std::vector<std::uint8_t>(400, 'o'), HistoryEvent::deleted, "deleted", op);
    bounded.keepBytes("Gone", mixer, std::vector<std::uint8_t>(700, 'g'), HistoryEvent::deleted, "deleted", op);
    // Over the byte limit: the versions of "Many" go, oldest first; the two
    // deletions of today stay even though they alone exceed it.
    EXPECT_EQ(bounded.prune(), 3u);
    EXPECT_TRUE(bounded.entries("Many").empty());
    EXPECT_EQ(bounded.entries("Old").size(), 1u);
    EXPECT_EQ(bounded.entries("Gone").size(), 1u);
    // 31 days on they may go, the oldest first, until the limit holds.
    EXPECT_EQ(bounded.prune(Clock::now() + std::chrono::hours(24 * 31)), 1u);
    EXPECT_TRUE(bounded.entries("Old").empty());
    ASSERT_EQ(bounded.entries().size(), 1u);
    std::size_t objects = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path() + ".zelto-history/objects")) {
        (void)e;
        ++objects;
    }
    EXPECT_EQ(objects, 1u);  // the dropped entries' objects went too
}

TEST(HistoryDamage, ADamagedLineIsSkippedAndReportedAndATornLastLineIgnored) {
    TempFolder dir;
    History history(dir.path());
    auto op = HistoryOperation::make("copy");
    history.keepBytes("A", {}, bytes("a"), HistoryEvent::replaced, "r", op);
    {
        std::ofstream journal(dir.path() + ".zelto-history/journal", std::ios::app);
        journal << "{not json}\n{\"id\": 99, \"event\": \"replaced\"";  // damage, then a torn line
    }
    History reader(dir.path());
    EXPECT_EQ(reader.entries().size(), 1u);
    EXPECT_EQ(reader.damagedLines(), 1u);
    // The next entry starts on a line of its own, after the torn one.
    auto id = reader.keepBytes("B", {}, bytes("b"), HistoryEvent::replaced, "r", op);
    EXPECT_EQ(id, 2u);
    auto entries = History(dir.path()).entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "B");
    EXPECT_EQ(reader.prune(), 0u);  // a damaged journal is not rewritten
    // A missing object is an error of that entry only.
    std::filesystem::remove(dir.path() + ".zelto-history/objects/" + entries[0].object);
    EXPECT_THROW(reader.bytesOf(entries[0]), HistoryError);
    EXPECT_EQ(text(reader.bytesOf(entries[1])), "b");
}

TEST(HistoryDamage, AFileInPlaceOfTheHistoryStopsReplacesButNotNewFilesOrForcedOnes) {
    TempFolder dir;
    dir.write(".zelto-history", "not a folder");
    dir.write("Kept.ZELTOshow", "old");
    ZeltoPresetManager manager({}, dir.path());
    EXPECT_FALSE(manager.writePresetToLocal(preset("New", "new")).error);  // an add needs no history
    auto outcome = manager.writePresetToLocal(preset("Kept", "replacement"));
    ASSERT_TRUE(outcome.error);
    try {
        std::rethrow_exception(outcome.error);
    } catch (const ZeltoPresetManagerError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoPresetManagerError::Case::cannotKeepOldPreset);
        EXPECT_NE(e.detail().find(".zelto-history"), std::string::npos) << e.detail();
    }
    EXPECT_EQ(dir.read("Kept.ZELTOshow"), "old");
    EXPECT_THROW(manager.deleteLocalPreset("Kept"), ZeltoPresetManagerError);
    EXPECT_EQ(dir.read("Kept.ZELTOshow"), "old");
    EXPECT_EQ(dir.read(".zelto-history"), "not a folder");
    manager.force = true;
    EXPECT_FALSE(manager.writePresetToLocal(preset("Kept", "replacement")).error);
    EXPECT_EQ(dir.read("Kept.ZELTOshow"), "replacement");
}

}  // namespace
}  // namespace zelto
