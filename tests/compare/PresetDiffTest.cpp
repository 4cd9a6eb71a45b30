// Preset diffs in the model's terms.
#include <gtest/gtest.h>

#include <set>

#include "compare/PresetDiff.h"
#include "preset/PresetGenerator.h"

namespace zelto {
namespace {

ZeltoPreset generated() {
    return ZeltoPreset::fromData(
        testing::generatePreset({.users = 3, .groupsPerUser = 3, .channelsPerUser = 6, .mapEntries = 5}));
}

std::map<std::string, std::pair<std::optional<std::string>, std::optional<std::string>>> byPath(
    const std::vector<DiffRow>& rows) {
    std::map<std::string, std::pair<std::optional<std::string>, std::optional<std::string>>> m;
    for (auto& r : rows) m[r.path] = {r.left, r.right};
    return m;
}

using Sides = std::pair<std::optional<std::string>, std::optional<std::string>>;

TEST(PresetDiff, NamesEachChangedValueByMixChannelGroupRoutingAndResidualContent) {
    const ZeltoPreset left = generated();
    ZeltoPreset right = generated();
    EXPECT_TRUE(diffPresets(left, right).empty());

    right.name = "Renamed";
    auto& mix = right.userList.users[0];
    const std::string mixPath = "Mix \"" + mix.name + "\"";
    mix.icon = "drums";
    auto& channel = mix.channelSettingsList.channelSettings[2];
    const std::string channelPath = mixPath + " / Input " + std::to_string(channel.inputChannel);
    channel.channelGaindB += 3;
    channel.mute = !channel.mute;
    channel.setAzimuth(45);
    auto& group = right.userList.users[1].groups[0];
    group.name = "Horns";
    const std::string groupPath =
        "Mix \"" + right.userList.users[1].name + "\" / Group " + std::to_string(group.id);
    right.userList.remoteSettings.setOutputMap(1, std::nullopt);
    right.setAttribute("Venue", "Arena");
    const std::string gone = right.userList.users[2].name;
    right.userList.users.pop_back();
    auto& channels = right.userList.users[1].channelSettingsList.channelSettings;
    const std::string goneChannel = "Mix \"" + right.userList.users[1].name + "\" / Input " +
                                    std::to_string(channels.back().inputChannel);
    channels.pop_back();

    const auto rows = byPath(diffPresets(left, right));
    const auto& original = left.userList.users[0].channelSettingsList.channelSettings[2];
    EXPECT_EQ(rows.at("Name"), (Sides{left.name, "Renamed"}));
    EXPECT_EQ(rows.at(mixPath + " / Icon"), (Sides{left.userList.users[0].icon, "drums"}));
    EXPECT_EQ(rows.at(channelPath + " / Gain (dB)"),
              (Sides{formatXMLFloat(original.channelGaindB), formatXMLFloat(original.channelGaindB + 3)}));
    EXPECT_EQ(rows.at(channelPath + " / Mute"),
              (Sides{original.mute ? "on" : "off", original.mute ? "off" : "on"}));
    EXPECT_EQ(rows.at(channelPath + " / Pan (azimuth °)").second, formatXMLFloat(channel.azimuth()));
    EXPECT_EQ(rows.at(groupPath + " / Name").second, "Horns");
    EXPECT_EQ(rows.at("Routing / Output map / Local 1").second, "not routed");
    EXPECT_EQ(rows.at("Preset / @Venue"), (Sides{"Hall & Stage", "Arena"}));
    EXPECT_EQ(rows.at("Mix \"" + gone + "\""), (Sides{"present", std::nullopt}));
    EXPECT_EQ(rows.at(goneChannel), (Sides{"present", std::nullopt}));
    EXPECT_EQ(rows.size(), 10u) << "nothing else is reported";

    const auto all = diffPresets(left, right, DiffRows::all);
    EXPECT_GT(all.size(), 10 * rows.size());
    std::set<std::string> paths;
    for (auto& r : all) EXPECT_TRUE(paths.insert(r.path).second) << "paths are unique: " << r.path;
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const DiffRow& r) { return r.differs(); }),
              static_cast<long>(rows.size()));
    EXPECT_TRUE(paths.contains(channelPath + " / Solo")) << "show all lists the unchanged values too";
}

TEST(PresetDiff, ComparesResidualChildrenAndTextAsWritten) {
    const ZeltoPreset left = generated();
    ZeltoPreset right = generated();
    auto& user = right.userList.users[0];
    QVXMLElement note("Note");
    note.stringValue = "check the wedge";
    user.children.push_back(note);
    ASSERT_FALSE(right.children.empty()) << "the generator writes residual children";
    right.children[0].stringValue = "Soundcheck at 4";

    const auto rows = byPath(diffPresets(left, right));
    const std::string mixNote = "Mix \"" + user.name + "\" / <Note>";
    ASSERT_TRUE(rows.contains(mixNote));
    EXPECT_FALSE(rows.at(mixNote).first);
    EXPECT_EQ(rows.at(mixNote).second, "<Note>check the wedge</Note>");
    const std::string rootChild = "Preset / <" + right.children[0].elementName + ">";
    ASSERT_TRUE(rows.contains(rootChild));
    EXPECT_NE(rows.at(rootChild).second->find("Soundcheck at 4"), std::string::npos);
    EXPECT_EQ(rows.size(), 2u);
}

}  // namespace
}  // namespace zelto
