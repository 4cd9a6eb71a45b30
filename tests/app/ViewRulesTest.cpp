#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "app/DeviceInformation.h"
#include "app/PresetGrouping.h"
#include "app/ViewRules.h"
#include "device/ZeltoDevice.h"

namespace zelto {
namespace {

class ViewRulesTest : public ::testing::Test {
  protected:
    DevicePtr device(const char* address) {
        return std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4(address), 9112, std::nullopt);
    }
    static Preset preset(const std::string& name, DevicePtr device = nullptr) {
        return Preset{std::move(device), RemoteZeltoPreset(name)};
    }
    static std::vector<std::string> names(const PresetGroup& group) {
        std::vector<std::string> out;
        for (const auto& p : group.presets) out.push_back(p.preset.name);
        return out;
    }
    static std::vector<std::string> groupNames(const std::vector<PresetGroup>& groups) {
        std::vector<std::string> out;
        for (const auto& g : groups) out.push_back(g.name);
        return out;
    }
    static std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>> flat(
        const std::vector<PresetCopyJob>& jobs) {
        std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>> out;
        for (const auto& j : jobs) out.emplace_back(j.from.get(), j.to.get(), j.presetName);
        return out;
    }

    asio::io_context io;
};

TEST_F(ViewRulesTest, GroupsByCaseInsensitivePrefixAndDissolvesSingletonsIntoOthers) {
    const auto groups =
        groupPresets({preset("Live-One"), preset("Solo"), preset("live_Two"), preset("Band-A"),
                      preset("LIVE.three"), preset("-x"), preset("_y"), preset("Zed a")});
    ASSERT_EQ(groupNames(groups), (std::vector<std::string>{"", "Live", "others"}));
    EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"-x", "_y"}));
    EXPECT_EQ(names(groups[1]), (std::vector<std::string>{"Live-One", "LIVE.three", "live_Two"}));
    EXPECT_EQ(names(groups[2]), (std::vector<std::string>{"Band-A", "Solo", "Zed a"}));
}

TEST_F(ViewRulesTest, OthersIsAlwaysPresentAndSortsAmongTheGroups) {
    ASSERT_EQ(groupNames(groupPresets({})), (std::vector<std::string>{"others"}));
    EXPECT_TRUE(groupPresets({}).front().presets.empty());
    EXPECT_EQ(groupNames(groupPresets({preset("Zoo 1"), preset("zoo 2"), preset("Act-1"), preset("act 2")})),
              (std::vector<std::string>{"Act", "others", "Zoo"}));
}

TEST_F(ViewRulesTest, RowTextsNameTheSourceOnlyWhenSeveralAreShown) {
    const auto stage = device("127.0.0.2");
    const std::vector<Preset> localOnly{preset("A"), preset("B")};
    EXPECT_FALSE(hasMultipleSources(localOnly));
    EXPECT_EQ(presetRowText(localOnly[0], false), "A");

    const std::vector<Preset> mixed{preset("A"), preset("B", stage)};
    EXPECT_TRUE(hasMultipleSources(mixed));
    EXPECT_EQ(presetRowText(mixed[0], true), "A @local");
    EXPECT_EQ(presetRowText(mixed[1], true), "B @127.0.0.2:9110");
    EXPECT_FALSE(hasMultipleSources({preset("A", stage), preset("B", stage)}));
}

TEST_F(ViewRulesTest, OthersIsOneHeadingEvenWhenPresetsAreKeyedOthers) {
    const auto groups = groupPresets(
        {preset("others-1"), preset("Others 2"), preset("Solo"), preset("Band-A"), preset("band-B")});
    ASSERT_EQ(groupNames(groups), (std::vector<std::string>{"Band", "others"}));
    EXPECT_EQ(names(groups[1]), (std::vector<std::string>{"Others 2", "others-1", "Solo"}));
}

class CopyJobs : public ViewRulesTest {
  protected:
    // (from, to, name, problem) of every job.
    using Job = std::tuple<ZeltoDevice*, ZeltoDevice*, std::string, std::string>;
    static std::vector<Job> all(const std::vector<PresetCopyJob>& jobs) {
        std::vector<Job> out;
        for (const auto& j : jobs) out.emplace_back(j.from.get(), j.to.get(), j.presetName, j.problem);
        return out;
    }
    static std::vector<std::string> problems(const std::vector<PresetCopyJob>& jobs) {
        std::vector<std::string> out;
        for (const auto& j : jobs) out.push_back(j.presetName + ": " + j.problem);
        return out;
    }

    DevicePtr stage = device("127.0.0.2");
    DevicePtr studio = device("127.0.0.3");
    std::vector<PresetSourcePtr> sources{
        std::make_shared<PresetSource>(
            "Zelto App (local)", nullptr,
            std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-A"), RemoteZeltoPreset("-x"),
                                           RemoteZeltoPreset("_y")}),
        std::make_shared<PresetSource>(
            "stage", stage,
            std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-B"), RemoteZeltoPreset("Solo"),
                                           RemoteZeltoPreset("a/b")}),
        std::make_shared<PresetSource>("studio", studio,
                                       std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-C")})};
    std::vector<PresetGroup> groups = groupPresets(presetsOfSources(sources));
};

TEST_F(CopyJobs, DragTextsKeepTheirFormAndADropCopiesEachDraggedPresetFromItsSource) {
    EXPECT_EQ(presetDragText(preset("Solo", stage)), "/127.0.0.2/Solo");
    EXPECT_EQ(presetDragText(preset("Band-A")), "/local/Band-A");
    EXPECT_EQ(groupDragText("Band"), "/group/Band");

    const std::vector<std::string> items{presetDragText(preset("Solo", stage)),  // to the studio
                                         "/local/Band-A",                        // to the studio
                                         "/group/Band",  // each member from its own source; Band-C stays home
                                         "/127.0.0.3/Band-C",  // onto its own source: no job
                                         "",                   // nothing dragged
                                         "/group/"};           // the group of names starting with a separator
    EXPECT_EQ(flat(copyJobsForDrop(items, studio, sources, groups)),
              (std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>>{
                  {stage.get(), studio.get(), "Solo"},
                  {nullptr, studio.get(), "Band-A"},
                  {stage.get(), studio.get(), "Band-B"},
                  {nullptr, studio.get(), "-x"},
                  {nullptr, studio.get(), "_y"}}))
        << "Band-A comes once although it was dragged alone and with its group";
    EXPECT_TRUE(copyJobsForDrop({"/local/Band-A"}, nullptr, sources, groups).empty());
}

TEST_F(CopyJobs, WhatCannotBeCopiedBecomesAJobThatSaysWhy) {
    const std::vector<std::string> items{"/127.0.0.2/Gone", "/127.0.0.9/Solo", "/local/Gone",
                                         "/127.0.0.2/a/b",  "/local/",         "local/Band-A",
                                         "/group/Nothing"};
    const auto jobs = copyJobsForDrop(items, studio, sources, groups);
    EXPECT_EQ(problems(jobs),
              (std::vector<std::string>{
                  "Gone: it is no longer listed on stage", "Solo: the mixer 127.0.0.9 is no longer connected",
                  "Gone: it is no longer listed on Zelto App (local)",
                  "a/b: a preset name holding \"/\" cannot be a file name",
                  "/local/: this names no preset or group", "local/Band-A: this names no preset or group",
                  "Nothing: no group of this name is shown"}));
    for (const auto& job : jobs) EXPECT_EQ(job.to, studio);
    EXPECT_EQ(jobs[0].from, stage);

    // A source that went away after its rows were shown: its presets are
    // reported, not silently dropped.
    const std::vector<PresetSourcePtr> remaining{sources[0], sources[2]};
    EXPECT_EQ(
        problems(copyJobsForDrop({"/127.0.0.2/Solo", "/group/Band"}, nullptr, remaining, groups)),
        (std::vector<std::string>{"Solo: the mixer 127.0.0.2 is no longer connected",
                                  "Band-B: the mixer 127.0.0.2:9110 is no longer connected", "Band-C: "}));
}

TEST_F(CopyJobs, TheOthersHeadingCopiesEveryPresetShownUnderIt) {
    const std::vector<PresetSourcePtr> local{std::make_shared<PresetSource>(
        "Zelto App (local)", nullptr,
        std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("others-1"), RemoteZeltoPreset("others-2"),
                                       RemoteZeltoPreset("Solo")})};
    const auto shown = groupPresets(presetsOfSources(local));
    EXPECT_EQ(
        flat(copyJobsForDrop({groupDragText(othersGroupName)}, stage, local, shown)),
        (std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>>{{nullptr, stage.get(), "others-1"},
                                                                          {nullptr, stage.get(), "others-2"},
                                                                          {nullptr, stage.get(), "Solo"}}));
}

TEST_F(CopyJobs, CopySelectedToTakesTheRowsThemselvesAndEachPresetOnce) {
    const std::vector<PresetRow> rows{PresetRow{"Band", std::nullopt}, PresetRow{"", preset("Band-B", stage)},
                                      PresetRow{"", preset("Solo", stage)}, PresetRow{"", preset("Band-A")}};
    EXPECT_EQ(flat(copyJobsForRows(rows, studio, sources, groups)),
              (std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>>{
                  {nullptr, studio.get(), "Band-A"},
                  {stage.get(), studio.get(), "Band-B"},
                  {stage.get(), studio.get(), "Solo"}}));

    const std::vector<PresetSourcePtr> stageGone{sources[0], sources[2]};
    EXPECT_EQ(problems(copyJobsForRows({PresetRow{"", preset("Solo", stage)}}, nullptr, stageGone, groups)),
              std::vector<std::string>{"Solo: the mixer 127.0.0.2:9110 is no longer connected"});
}

TEST_F(ViewRulesTest, ContextMenusActOnTheSelectionAndTheClickedRow) {
    EXPECT_EQ(affectedRows({3, 1}, 2), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(affectedRows({1, 2}, 2), (std::vector<int>{1, 2}));
    EXPECT_EQ(affectedRows({}, -1), std::vector<int>{});

    const auto stage = device("127.0.0.2");
    const auto local = std::make_shared<PresetSource>("Zelto App (local)", nullptr);
    const auto mixer = std::make_shared<PresetSource>("stage", stage);
    EXPECT_FALSE(sourceCommandsEnabled({local}));
    EXPECT_TRUE(sourceCommandsEnabled({local, mixer}));
    EXPECT_EQ(devicesOfSources({local, mixer, mixer}), std::vector<DevicePtr>{stage});

    const PresetRow group{"Band", std::nullopt};
    const PresetRow onMixer{"", preset("Solo", stage)};
    const PresetRow onDisk{"", preset("Solo")};
    EXPECT_TRUE(loadCommandEnabled({onMixer}));
    EXPECT_FALSE(loadCommandEnabled({onDisk}));
    EXPECT_FALSE(loadCommandEnabled({group}));
    EXPECT_FALSE(loadCommandEnabled({onMixer, onDisk}));
    EXPECT_EQ(presetsOfRows({group, onMixer, onDisk}).size(), 2u);
    EXPECT_EQ(presetsToDelete({group, onMixer, onDisk}, true).size(), 2u);
    EXPECT_TRUE(presetsToDelete({group, onMixer, onDisk}, false).empty()) << "the focus is elsewhere";
}

struct ConfirmingUi : AppUi {
    void showAlert(AlertStyle, const std::string&) override {}
    void confirm(AlertStyle style, const std::string& message, const std::string& informativeText,
                 const std::string& confirmButton, const std::string& cancelButton,
                 std::function<void(bool)> done) override {
        asked.push_back({message, informativeText, confirmButton, cancelButton});
        warning = style == AlertStyle::warning;
        answer = std::move(done);
    }
    void presentStatusSheet() override {}
    void chooseFolder(const std::string&, std::function<void(std::optional<std::string>)>) override {}

    std::vector<std::vector<std::string>> asked;
    bool warning = false;
    std::function<void(bool)> answer;
};

TEST_F(ViewRulesTest, LoadAsksFirstAndLoadsOnlyAPresetOfAMixerOnceConfirmed) {
    const auto stage = device("127.0.0.2");
    ConfirmingUi ui;
    std::vector<std::string> loaded;
    auto load = [&](const Preset& p) { loaded.push_back(p.preset.name); };

    askToLoadPreset({PresetRow{"", preset("On Disk")}}, ui, load);
    EXPECT_TRUE(ui.asked.empty());

    askToLoadPreset({PresetRow{"", preset("Friday Gig", stage)}}, ui, load);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_TRUE(ui.warning);
    EXPECT_EQ(ui.asked[0], (std::vector<std::string>{
                               "Warning!",
                               "Are you sure you want to load \"Friday Gig\" on your zelto hardware? "
                               "This will overwrite all current settings on the device!",
                               "load", "cancel"}));
    ui.answer(false);
    EXPECT_TRUE(loaded.empty());
    ui.answer(true);
    EXPECT_EQ(loaded, std::vector<std::string>{"Friday Gig"});
}

TEST_F(ViewRulesTest, MixerAddressesAreDottedUnicastIPv4) {
    EXPECT_EQ(mixerAddress(" 192.168.1.20\t"), "192.168.1.20");
    for (const char* bad : {"", " ", "mixer.local", "192.168.1", "1.2.3.4.5", "192.168.001.2", "0.0.0.0",
                            "224.0.0.1", "300.1.1.1"})
        EXPECT_FALSE(mixerAddress(bad)) << bad;
}

TEST_F(ViewRulesTest, DeviceInformationIsEmptyUntilTheMixerHasReported) {
    const auto info = DeviceInformation::of(device("127.0.0.2"));
    EXPECT_EQ(info.name + info.serialNumber + info.type + info.version + info.uid + info.mixes, "");
    EXPECT_EQ(DeviceInformation::of(nullptr).mixes, "");
}

}  // namespace
}  // namespace zelto
