// The history as the manager keeps it for mixers, against simulated mixers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sync/History.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using test::presetBytes;

bool has(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

class MixerHistory : public ::testing::Test {
  protected:
    test::TempFolder local;
    test::MixerRig rig;

    void writeLocal(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        local.write(name + ".ZELTOshow", std::string(bytes.begin(), bytes.end()));
    }
    std::vector<std::uint8_t> onMixer(const DevicePtr& device, const std::string& name) {
        auto preset = rig.run(device->transferPreset(name, 10'000'000'000));
        return preset.bytes.value_or(RemoteZeltoPreset::Bytes{});
    }
    std::vector<std::string> localNames() {
        std::vector<std::string> names;
        for (auto& p : ZeltoPresetManager::localPresetList(local.path())) names.push_back(p.name);
        return names;
    }
};

TEST_F(MixerHistory, AFetchThatFailsBeforeAReplaceStopsTheCopyUnlessForced) {
    // Large enough that no fetch of it completes within the waits below.
    auto mixerSong = presetBytes("Song on mixer", 300000);
    auto& mixer = rig.add({{"Song", mixerSong}});
    writeLocal("Song", presetBytes("Song local"));
    rig.connectAll();

    ZeltoPresetManager manager({}, local.path());
    // A 1 ns wait: the fetch fails, unless a loaded machine runs the wait's
    // timer only after the answer came. Either way nothing may be lost.
    manager.timeouts.preset = 1;
    bool stopped = false;
    try {
        rig.run(manager.copyPreset("Song", nullptr, mixer.device));
    } catch (const ZeltoPresetManagerError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoPresetManagerError::Case::cannotKeepOldPreset);
        EXPECT_NE(e.detail().find("Song"), std::string::npos) << e.detail();
        stopped = true;
    }
    if (stopped) {
        EXPECT_EQ(mixer.sim->countLines("presetDelete"), 0);
        EXPECT_EQ(test::fileBytes(mixer.folder->path() + "Song.ZELTOshow"), mixerSong);
        EXPECT_TRUE(History(local.path()).entries("Song").empty());
    } else {
        History history(local.path());
        auto kept = history.entries("Song");
        ASSERT_FALSE(kept.empty()) << "the copy replaced a preset it could not keep";
        EXPECT_EQ(history.bytesOf(kept.back()), mixerSong);
        return;
    }

    manager.force = true;
    rig.run(manager.copyPreset("Song", nullptr, mixer.device));
    EXPECT_TRUE(mixer.sim->waitForLine("presetDelete"));
}

TEST_F(MixerHistory, UndoAfterACopyASyncAndADeleteGivesBackTheStateBefore) {
    auto mixerSong = presetBytes("Song on mixer");
    auto onlyMixer = presetBytes("OnlyMixer");
    auto& mixer = rig.add({{"Song", mixerSong}, {"OnlyMixer", onlyMixer}});
    auto localSong = presetBytes("Song local");
    writeLocal("Song", localSong);
    writeLocal("OnlyLocal", presetBytes("OnlyLocal"));
    rig.connectAll();
    const DevicePtr device = mixer.device;
    auto names = [&](auto done) { return rig.presetNames(mixer, done); };

    // A copy that replaces the mixer's preset, undone.
    ZeltoPresetManager copier({device}, local.path());
    rig.run(copier.copyPreset("Song", nullptr, device));
    EXPECT_TRUE(mixer.sim->waitForLine("presetDelete"));
    ASSERT_EQ(onMixer(device, "Song"), localSong);
    ZeltoPresetManager undoer({device}, local.path());
    auto undone = rig.run(undoer.undoLastOperation());
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->kind, "copy");
    names([](auto& l) { return has(l, "Song"); });
    EXPECT_EQ(onMixer(device, "Song"), mixerSong);

    // A sync that adds on both sides, undone: each added preset goes again.
    ZeltoPresetManager syncer({device}, local.path());
    rig.run(syncer.syncDevices());
    names([](auto& l) { return has(l, "OnlyLocal"); });
    ASSERT_TRUE(has(localNames(), "OnlyMixer"));
    undone = rig.run(undoer.undoLastOperation());
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->kind, "sync");
    auto after = names([](auto& l) { return !has(l, "OnlyLocal"); });
    EXPECT_FALSE(has(after, "OnlyLocal"));
    EXPECT_FALSE(has(localNames(), "OnlyMixer"));
    EXPECT_TRUE(has(localNames(), "OnlyLocal"));

    // A delete on the mixer and one in the folder, each undone.
    ZeltoPresetManager deleter({device}, local.path());
    rig.run(deleter.deleteOnDevice("OnlyMixer", device));
    names([](auto& l) { return !has(l, "OnlyMixer"); });
    rig.run(undoer.undoLastOperation());
    names([](auto& l) { return has(l, "OnlyMixer"); });
    EXPECT_EQ(onMixer(device, "OnlyMixer"), onlyMixer);

    deleter.deleteLocalPreset("Song");
    EXPECT_FALSE(has(localNames(), "Song"));
    undone = rig.run(undoer.undoLastOperation());
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->kind, "delete");
    EXPECT_EQ(test::fileBytes(local.path() + "Song.ZELTOshow"), localSong);
    // Every step that replaced or deleted kept what it removed.
    History history(local.path());
    EXPECT_GE(history.entries("OnlyLocal").size(), 2u);  // added by the sync, kept when the undo deleted it
}

}  // namespace
}  // namespace zelto
