#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sync/RecordingDelegate.h"
#include "sync/ScratchMount.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using test::RecordingDelegate;
using test::TempFolder;

RemoteZeltoPreset preset(const std::string& name, std::string content,
                         std::optional<PresetDate> date = std::nullopt) {
    RemoteZeltoPreset p("");
    p.name = name;
    p.date = date;
    if (!content.empty() || name.empty()) p.bytes = RemoteZeltoPreset::Bytes(content.begin(), content.end());
    return p;
}

struct FolderFixture : ::testing::Test {
    TempFolder dir;
    std::shared_ptr<RecordingDelegate> events = std::make_shared<RecordingDelegate>();
    ZeltoPresetManager manager{{}, dir.path()};
    FolderFixture() { manager.delegate = events; }
};

using PresetFolder = FolderFixture;

TEST_F(PresetFolder, WritesUnderTheExactNameWithItsDate) {
    auto date = PresetDate(std::chrono::milliseconds(1619863200000));
    manager.writePresetsToLocal({preset("Stage (Left) 2", "abc", date)});
    EXPECT_EQ(dir.read("Stage (Left) 2.ZELTOshow"), "abc");
    auto loaded = manager.loadPreset("Stage (Left) 2");
    EXPECT_EQ(loaded.date, date);
    ASSERT_TRUE(loaded.bytes);
    EXPECT_EQ(std::string(loaded.bytes->begin(), loaded.bytes->end()), "abc");
    EXPECT_EQ(events->log, (std::vector<std::string>{"write Stage (Left) 2"}));
}

TEST_F(PresetFolder, OverwriteIsAnnouncedBeforeTheWriteAndUndatedPresetsGetNow) {
    dir.write("P.ZELTOshow", "old");
    auto before = std::chrono::system_clock::now() - std::chrono::seconds(2);
    manager.writePresetsToLocal({preset("P", "new")});
    EXPECT_EQ(events->log, (std::vector<std::string>{"overwrite P", "write P"}));
    EXPECT_EQ(dir.read("P.ZELTOshow"), "new");
    auto listed = ZeltoPresetManager::localPresetList(dir.path());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_GT(*listed[0].date, before);
    EXPECT_FALSE(listed[0].bytes) << "a listing carries no bytes";
}

TEST_F(PresetFolder, EmptyPresetIsReportedAndTheOthersAreWritten) {
    RemoteZeltoPreset noBytes("B");
    manager.writePresetsToLocal({preset("A", "a"), noBytes, preset("C", "c")});
    EXPECT_EQ(events->log, (std::vector<std::string>{"write A", "fail B emptyPreset", "write C"}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"A.ZELTOshow", "C.ZELTOshow"}));
}

TEST_F(PresetFolder, HostileNamesNeverLeaveTheFolderNorStopTheLoop) {
    const std::string names[] = {
        "../../x", "..", ".", "", "a/b", "a\\b", std::string("nul\0x", 5), "bell\x07", std::string(300, 'n')};
    std::vector<RemoteZeltoPreset> presets;
    for (const auto& n : names) presets.push_back(preset(n, "evil"));
    presets.push_back(preset("fine", "ok"));
    manager.writePresetsToLocal(presets);
    ASSERT_EQ(events->log.size(), presets.size());
    for (std::size_t i = 0; i + 1 < presets.size(); ++i)
        EXPECT_EQ(events->log[i], "fail " + presets[i].name + " invalidPath");
    EXPECT_EQ(events->log.back(), "write fine");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"fine.ZELTOshow"});
    EXPECT_THROW(manager.loadPreset("../fine"), ZeltoPresetManagerError);
    EXPECT_THROW(ZeltoPresetManager::deletePreset("../x", dir.path()), ZeltoPresetManagerError);
}

TEST_F(PresetFolder, LoadAndDeleteReportMissingFiles) {
    try {
        manager.loadPreset("absent");
        FAIL() << "loading a missing preset must throw";
    } catch (const ZeltoPresetManagerError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoPresetManagerError::Case::presetDoesNotExist);
    }
    EXPECT_THROW(ZeltoPresetManager::deletePreset("absent", dir.path()), std::filesystem::filesystem_error);
    dir.write("gone.ZELTOshow", "x");
    ZeltoPresetManager::deletePreset("gone", dir.path());
    EXPECT_TRUE(dir.entries().empty());
}

// Write failures as a full disk and a read-only folder produce them.
struct FailingDisk : FolderFixture {
    void SetUp() override {
        if (auto why = test::ScratchMount::isolate(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(FailingDisk, FullDiskKeepsTheOldPresetAndReportsTheFailure) {
    test::ScratchMount mount(dir.path(), 64 * 1024);
    ASSERT_TRUE(mount.ok());
    dir.write("Big.ZELTOshow", "previous version");
    manager.writePresetsToLocal({preset("Big", std::string(256 * 1024, 'x')), preset("Small", "s")});
    ASSERT_EQ(events->log.size(), 2u);
    EXPECT_EQ(events->log[0].rfind("fail Big ", 0), 0u) << events->log[0];
    EXPECT_EQ(events->log[1], "write Small");
    EXPECT_EQ(dir.read("Big.ZELTOshow"), "previous version");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Big.ZELTOshow", "Small.ZELTOshow"}));
}

TEST_F(FailingDisk, ReadOnlyFolderKeepsEveryPreset) {
    test::ScratchMount mount(dir.path(), 64 * 1024);
    ASSERT_TRUE(mount.ok());
    dir.write("P.ZELTOshow", "keep me");
    ASSERT_TRUE(mount.makeReadOnly());
    manager.writePresetsToLocal({preset("P", "replacement"), preset("Q", "new")});
    ASSERT_EQ(events->log.size(), 2u);
    EXPECT_EQ(events->log[0].rfind("fail P ", 0), 0u) << events->log[0];
    EXPECT_EQ(events->log[1].rfind("fail Q ", 0), 0u) << events->log[1];
    EXPECT_EQ(dir.read("P.ZELTOshow"), "keep me");
}

}  // namespace
}  // namespace zelto
