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

TEST_F(ViewRulesTest, DropTurnsDraggedRowsIntoCopyJobsAndSkipsWhatCannotBeCopied) {
    const auto stage = device("127.0.0.2");
    const auto studio = device("127.0.0.3");
    const std::vector<PresetSourcePtr> sources{
        std::make_shared<PresetSource>("Zelto App (local)", nullptr,
                                       std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-A")}),
        std::make_shared<PresetSource>(
            "stage", stage,
            std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-B"), RemoteZeltoPreset("Solo")}),
        std::make_shared<PresetSource>("studio", studio,
                                       std::vector<RemoteZeltoPreset>{RemoteZeltoPreset("Band-C")})};
    const auto groups = groupPresets(presetsOfSources(sources));

    EXPECT_EQ(presetDragText(preset("Solo", stage)), "/127.0.0.2/Solo");
    EXPECT_EQ(presetDragText(preset("Band-A")), "/local/Band-A");
    EXPECT_EQ(groupDragText("Band"), "/group/Band");

    const std::vector<std::string> items{presetDragText(preset("Solo", stage)),  // to the studio
                                         "/local/Band-A",                        // to the studio
                                         "/group/Band",  // each member from its own source; Band-C stays home
                                         "/127.0.0.3/Band-C",  // onto its own source: no job
                                         "/127.0.0.2/Gone",    // no longer listed
                                         "/127.0.0.9/Solo",    // no such mixer
                                         "/local/",
                                         "local/Band-A",
                                         "/local/a/b",
                                         "",
                                         "/group/Nothing"};
    EXPECT_EQ(flat(copyJobsForDrop(items, studio, sources, groups)),
              (std::vector<std::tuple<ZeltoDevice*, ZeltoDevice*, std::string>>{
                  {stage.get(), studio.get(), "Solo"},
                  {nullptr, studio.get(), "Band-A"},
                  {nullptr, studio.get(), "Band-A"},
                  {stage.get(), studio.get(), "Band-B"}}));
    EXPECT_TRUE(copyJobsForDrop({"/local/Band-A"}, nullptr, sources, groups).empty());
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
    void chooseFolder(std::function<void(std::optional<std::string>)>) override {}

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
