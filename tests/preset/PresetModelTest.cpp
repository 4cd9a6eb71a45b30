#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "preset/ZeltoPreset.h"

namespace zelto {
namespace {

using Kind = QVXMLDecodingError::Kind;

QVXMLElement parse(std::string_view text) {
    return QVXMLParser(text).parse();
}

std::string channelXML(const std::string& replace = "", const std::string& with = "") {
    std::string xml =
        R"(<ChannelSettings ChannelGaindB="-6.0" ChannelMode="3" Color="#FF0000" GroupID="1" Icon="mic" )"
        R"(Index="4" InputChannel="12" LinkedStereoChannel="-1" Mute="0" Name="Kick" Phi="0.5" R="1e-05" )"
        R"(Solo="1" Theta="1.25" Visible="true" WidthOffset="0.0"/>)";
    if (!replace.empty()) xml.replace(xml.find(replace), replace.size(), with);
    return xml;
}

Kind decodingKind(auto read) {
    try {
        read();
    } catch (const QVXMLDecodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "read succeeded";
    return Kind::childNotFound;
}

const std::string kUser = R"(<User Icon="i" MixHide="0" Name="Anna" PhaseInvert="0">)";
const std::string kRemote = R"(<RemoteSettings><InputMap/><OutputMap/></RemoteSettings>)";

std::string presetXML(const std::string& userBody) {
    return R"(<Preset Name="Show" Version="1"><UserList>)" + kUser + userBody + "</User>" + kRemote +
           "</UserList></Preset>";
}

// ---- channel settings

TEST(ChannelSettingsReading, ReadsAllSixteenAttributesAndWritesThemBack) {
    const ZeltoChannelSettings c(parse(channelXML()));
    EXPECT_EQ(c.inputChannel, 12u);
    EXPECT_EQ(c.index, 4u);
    EXPECT_EQ(c.name, "Kick");
    EXPECT_EQ(c.color, "#FF0000");
    EXPECT_TRUE(c.visible);
    EXPECT_EQ(c.linkedStereoChannel, -1);
    EXPECT_EQ(c.r, 0.00001f);
    EXPECT_EQ(c.channelMode, ZeltoChannelMode::threeD);
    EXPECT_EQ(c.channelGaindB, -6.0f);
    EXPECT_TRUE(c.solo);
    EXPECT_FALSE(c.mute);
    EXPECT_EQ(c.groupID, 1u);
    EXPECT_TRUE(c.attributes.empty()) << "known attributes must not stay as residual content";
    EXPECT_EQ(c.toElement().serialize(), channelXML("R=\"1e-05\" Solo=\"1\" Theta=\"1.25\" Visible=\"true\"",
                                                    "R=\"1e-05\" Solo=\"1\" Theta=\"1.25\" Visible=\"1\""));
}

TEST(ChannelSettingsReading, BadOrMissingValuesNameTheRightError) {
    const std::pair<std::string, Kind> cases[] = {
        {channelXML("ChannelMode=\"3\"", "ChannelMode=\"5\""), Kind::attributeValueConversion},
        {channelXML("ChannelMode=\"3\"", "ChannelMode=\"mono\""), Kind::attributeValueConversion},
        {channelXML("ChannelMode=\"3\"", "ChannelMode=\"03\""), Kind::attributeValueConversion},
        {channelXML("ChannelMode=\"3\" ", ""), Kind::attributeNotFound},
        {channelXML("Visible=\"true\"", "Visible=\"2\""), Kind::attributeValueConversion},
        {channelXML("GroupID=\"1\"", "GroupID=\"-1\""), Kind::attributeValueConversion},
        {channelXML("R=\"1e-05\"", "R=\" 1\""), Kind::attributeValueConversion},
        {channelXML("Index=\"4\" ", ""), Kind::attributeNotFound},
        {"<ChannelSettings/>", Kind::attributeNotFound},
    };
    for (const auto& [xml, kind] : cases) {
        const QVXMLElement element = parse(xml);
        EXPECT_EQ(decodingKind([&] { ZeltoChannelSettings c(element); }), kind) << xml;
    }
}

TEST(ChannelSettingsReading, ColourSpelledTheGroupWayIsResidualContent) {
    const ZeltoChannelSettings c(parse(channelXML("Color=", "Colour=\"x\" Extra=\"e\" Color=")));
    EXPECT_EQ(*c.attributes.find("Colour"), "x");
    const std::string written = c.toElement().serialize();
    EXPECT_NE(written.find("Color=\"#FF0000\" Colour=\"x\""), std::string::npos) << written;
    EXPECT_NE(written.find("Extra=\"e\" GroupID"), std::string::npos) << written;
}

// Exact bits: pi is the float one step below the float nearest to pi, and all
// arithmetic stays in floats (in doubles, setElevation(1) lands one step lower).
TEST(ChannelSettingsAngles, ElevationAndAzimuthAreDegreesOverThetaAndPhi) {
    auto bits = [](float value) { return std::bit_cast<std::uint32_t>(value); };
    EXPECT_EQ(bits(ZeltoChannelSettings::pi), 0x40490FDAu);
    ZeltoChannelSettings c;
    const std::pair<float, std::uint32_t> elevations[] = {{30, 0x3F860A91}, {1, 0x3FC6D3F2}, {90, 0}};
    for (auto [degrees, theta] : elevations) {
        c.setElevation(degrees);
        EXPECT_EQ(bits(c.theta), theta) << degrees;
    }
    const std::pair<float, std::uint32_t> azimuths[] = {{90, 0x3FC90FDA}, {-45, 0xBF490FDA}};
    for (auto [degrees, phi] : azimuths) {
        c.setAzimuth(degrees);
        EXPECT_EQ(bits(c.phi), phi) << degrees;
    }
    c.theta = 1;
    c.phi = 1;
    EXPECT_EQ(bits(c.elevation()), 0x4202D11Eu);
    EXPECT_EQ(bits(c.azimuth()), 0x42652EE2u);
    c.setElevation(30);
    EXPECT_FLOAT_EQ(c.elevation(), 30);
}

// Fixed notation from 1e-4 up to below 1e16, exponent form outside, in the
// written preset as in the element tree.
TEST(ChannelSettingsWriting, FloatTextAroundTheNotationThresholds) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x38D1B717, "0.0001"},        // 1e-4
        {0x38D1B716, "9.999999e-05"},  // the float below it
        {0xB8D1B717, "-0.0001"},
        {0x5A0E1BCA, "1e+16"},               // 1e16
        {0x5A0E1BC9, "9999999198822400.0"},  // the float below it
        {0xDA0E1BCA, "-1e+16"},
        {0x377BA882, "1.5e-05"},
        {0x4B800000, "16777216.0"},  // 2^24
        {0x80000000, "-0.0"},
    };
    ZeltoPreset preset = ZeltoPreset::fromData(
        presetXML(R"(<Groups><Group Colour="c" ID="1" Icon="i" Name="g"/></Groups><ChannelSettingsList>)" +
                  channelXML() + "</ChannelSettingsList>"));
    for (auto [bits, text] : cases) {
        auto& channel = preset.userList.users.at(0).channelSettingsList.channelSettings.at(0);
        channel.r = std::bit_cast<float>(bits);
        const std::string attribute = std::string(" R=\"") + text + "\" ";
        EXPECT_NE(channel.toElement().serialize().find(attribute), std::string::npos) << text;
        const auto data = preset.toData();
        EXPECT_NE(std::string(data.begin(), data.end()).find(attribute), std::string::npos) << text;
    }
}

// ---- users, groups, lists

TEST(UserReading, RequiredChildrenAreChecked) {
    EXPECT_EQ(decodingKind([] { ZeltoUser u(parse(kUser + "<ChannelSettingsList/></User>")); }),
              Kind::childNotFound);
    EXPECT_EQ(decodingKind([] { ZeltoUser u(parse(kUser + "<Groups/></User>")); }), Kind::childNotFound);
    EXPECT_EQ(decodingKind([] {
                  ZeltoUser u(parse(R"(<User Icon="i" Name="n" PhaseInvert="0"><Groups/>)"
                                    "<ChannelSettingsList/></User>"));
              }),
              Kind::attributeNotFound);
    EXPECT_EQ(decodingKind([] {
                  ZeltoUserList l(
                      parse("<UserList>" + kUser + "<Groups/><ChannelSettingsList/></User></UserList>"));
              }),
              Kind::childNotFound);
    EXPECT_EQ(decodingKind([] { ZeltoPreset p(parse(R"(<Preset Name="a" Version="1"/>)")); }),
              Kind::childNotFound);
    const ZeltoUserList empty(parse("<UserList>" + kRemote + "</UserList>"));
    EXPECT_TRUE(empty.users.empty());
}

TEST(UserReading, GroupsReadInOrderAndOtherContentOfGroupsIsDropped) {
    const ZeltoUser u(parse(kUser +
                            R"(<Groups><Group Colour="c" ID="-3" Icon="g" Name="A" Color="old"/><Note/>)"
                            R"(<Group Colour="d" ID="2" Icon="h" Name="B"/></Groups>)"
                            "<ChannelSettingsList/></User>"));
    ASSERT_EQ(u.groups.size(), 2u);
    EXPECT_EQ(u.groups[0].id, -3);
    EXPECT_EQ(u.groups[1].name, "B");
    EXPECT_EQ(*u.groups[0].attributes.find("Color"), "old");
    EXPECT_EQ(u.toElement().findFirstChild("Groups")->serialize(),
              "<Groups>\n\t<Group Color=\"old\" Colour=\"c\" ID=\"-3\" Icon=\"g\" Name=\"A\"/>\n"
              "\t<Group Colour=\"d\" ID=\"2\" Icon=\"h\" Name=\"B\"/>\n</Groups>");
}

TEST(UserReading, BuiltUsersCompareByTheirFourFieldsOnly) {
    ZeltoUser a("Anna", "i", 0, "0");
    ZeltoUser b("Anna", "i", 0, "0");
    b.groups.emplace_back(1, "g", "i", "c");
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == ZeltoUser("Anna", "i", 1, "0"));
    EXPECT_EQ(a.description(), "Anna");
    EXPECT_EQ(a.toElement().serialize(),
              "<User Icon=\"i\" MixHide=\"0\" Name=\"Anna\" PhaseInvert=\"0\">\n\t<Groups/>\n"
              "\t<ChannelSettingsList/>\n</User>");
}

TEST(ResidualContent, UnknownAttributesAndChildrenSurviveAndComeFirst) {
    const std::string xml = R"(<Preset Name="Show" Version="1" Zeta="z"><Info/><UserList Mode="m"><Tpl/>)" +
                            kUser + R"(<Extra/><Groups/><ChannelSettingsList/></User>)" + kRemote +
                            "</UserList></Preset>";
    ZeltoPreset p(parse(xml));
    EXPECT_EQ(p.name, "Show");
    EXPECT_EQ(p.attributes.size(), 1u);
    const QVXMLElement e = p.toElement();
    EXPECT_EQ(e.serialize(),
              "<Preset Name=\"Show\" Version=\"1\" Zeta=\"z\">\n"
              "\t<Info/>\n"
              "\t<UserList Mode=\"m\">\n"
              "\t\t<Tpl/>\n"
              "\t\t<User Icon=\"i\" MixHide=\"0\" Name=\"Anna\" PhaseInvert=\"0\">\n"
              "\t\t\t<Extra/>\n\t\t\t<Groups/>\n\t\t\t<ChannelSettingsList/>\n"
              "\t\t</User>\n"
              "\t\t<RemoteSettings>\n\t\t\t<InputMap/>\n\t\t\t<OutputMap/>\n\t\t</RemoteSettings>\n"
              "\t</UserList>\n"
              "</Preset>");
}

// ---- channel regrouping on write

std::string groupsAndChannels(const std::string& groups, const std::string& channels) {
    return "<Groups>" + groups + "</Groups><ChannelSettingsList>" + channels + "</ChannelSettingsList>";
}

std::string group(int id) {
    return R"(<Group Colour="c" ID=")" + std::to_string(id) + R"(" Icon="g" Name="G"/>)";
}

std::string channel(const std::string& name, int groupID, int index) {
    std::string xml = channelXML("Name=\"Kick\"", "Name=\"" + name + "\"");
    xml = xml.replace(xml.find("GroupID=\"1\""), 11, "GroupID=\"" + std::to_string(groupID) + "\"");
    return xml.replace(xml.find("Index=\"4\""), 9, "Index=\"" + std::to_string(index) + "\"");
}

std::vector<std::pair<std::string, std::uint64_t>> namesAndIndices(const ZeltoPreset& p) {
    std::vector<std::pair<std::string, std::uint64_t>> out;
    for (const auto& c : p.userList.users.at(0).channelSettingsList.channelSettings)
        out.emplace_back(c.name, c.index);
    return out;
}

TEST(ChannelRegrouping, ChannelsFollowGroupOrderAndAreReindexed) {
    ZeltoPreset p(parse(presetXML(groupsAndChannels(
        group(1) + group(0), channel("A", 0, 9) + channel("B", 1, 3) + channel("C", 0, 0)))));
    p.toElement();
    using V = std::vector<std::pair<std::string, std::uint64_t>>;
    EXPECT_EQ(namesAndIndices(p), (V{{"B", 0}, {"A", 1}, {"C", 2}}));
}

TEST(ChannelRegrouping, ChannelsOfNoGroupAreDroppedAndSharedIdsDuplicate) {
    ZeltoPreset p(
        parse(presetXML(groupsAndChannels(group(0) + group(-1) + group(1) + group(0),
                                          channel("A", 7, 0) + channel("B", 0, 1) + channel("C", 1, 2)))));
    p.toElement();
    using V = std::vector<std::pair<std::string, std::uint64_t>>;
    EXPECT_EQ(namesAndIndices(p), (V{{"B", 0}, {"C", 1}, {"B", 2}}));
}

// Every group sharing an id repeats its channels: a short document could ask for a huge one.
TEST(ChannelRegrouping, AWriteThatWouldExplodeIsRefusedAndChangesNothing) {
    std::string groups, channels;
    for (int i = 0; i < 2000; ++i) groups += group(0);
    for (int i = 0; i < 100; ++i) channels += channel("c" + std::to_string(i), 0, i);
    ZeltoPreset p(parse(presetXML(groupsAndChannels(groups, channels))));
    ASSERT_GT(2000u * 100u, ZeltoPreset::maxWrittenChannels);
    EXPECT_THROW(p.toData(), QVXMLEncodingError);
    EXPECT_EQ(p.userList.users[0].channelSettingsList.channelSettings.size(), 100u);
    EXPECT_EQ(p.userList.users[0].channelSettingsList.channelSettings[7].index, 7u);
}

TEST(ChannelRegrouping, ListWriterSortsByIndexWithoutReorderingTheList) {
    ZeltoChannelSettingsList list;
    for (auto [name, index] : {std::pair{"x", 2}, {"y", 0}, {"z", 2}, {"w", 1}}) {
        ZeltoChannelSettings c;
        c.name = name;
        c.index = static_cast<std::uint64_t>(index);
        list.channelSettings.push_back(c);
    }
    std::string order;
    for (const auto& child : list.toElement().children) order += *child.attributes.find("Name");
    EXPECT_EQ(order, "ywxz");
    EXPECT_EQ(list.channelSettings.front().name, "x");
}

// ---- routing maps

TEST(RoutingMaps, SettingTakesTheRemoteAwayFromItsPreviousOwner) {
    ZeltoRemoteSettings s;
    s.setInputMap(3, 7);
    EXPECT_EQ(s.lin2rin(3), 7u);
    EXPECT_EQ(s.rin2lin(7), 3u);
    s.setInputMap(4, 7);
    EXPECT_EQ(s.lin2rin(3), std::nullopt);
    EXPECT_EQ(s.lin2rin(4), 7u);
    EXPECT_EQ(s.rin2lin(999), 3u) << "999 finds the first unrouted entry";
    s.setInputMap(4, std::nullopt);
    EXPECT_EQ(s.inputMap().size(), 2u);
    EXPECT_EQ(s.lin2rin(4), std::nullopt);
    EXPECT_EQ(s.lin2rin(5), std::nullopt);
    EXPECT_EQ(s.rin2lin(8), std::nullopt);
    EXPECT_TRUE(s.outputMap().empty()) << "the maps are independent";
    s.setOutputMap(1, 2);
    EXPECT_EQ(s.lout2rout(1), 2u);
    EXPECT_EQ(s.rout2lout(2), 1u);
    EXPECT_EQ(s.lin2rin(1), std::nullopt);
    EXPECT_EQ(ZeltoChannelMap(3, 999).description(), "3 -> 999");
}

TEST(RoutingMaps, WritingAddsLocalZeroToNonEmptyMapsAndSortsByLocal) {
    ZeltoRemoteSettings s;
    s.setInputMap(5, 1);
    s.setInputMap(2, 5);
    EXPECT_EQ(s.toElement().serialize(),
              "<RemoteSettings>\n\t<InputMap>\n\t\t<Channel Local=\"0\" Remote=\"999\"/>\n"
              "\t\t<Channel Local=\"2\" Remote=\"5\"/>\n\t\t<Channel Local=\"5\" Remote=\"1\"/>\n"
              "\t</InputMap>\n\t<OutputMap/>\n</RemoteSettings>");
    EXPECT_EQ(s.inputMap().size(), 3u);
    EXPECT_EQ(s.inputMap().front().local, 5u) << "stored order is kept";
}

TEST(RoutingMaps, DocumentsAreTakenAsTheyAreAndEditingRepairsDuplicates) {
    const ZeltoRemoteSettings read(
        parse(R"(<RemoteSettings><InputMap><Channel Local="1" Remote="4" Tag="t"/>)"
              R"(<Channel Local="2" Remote="4"/><Junk/></InputMap><OutputMap/></RemoteSettings>)"));
    ZeltoRemoteSettings s = read;
    ASSERT_EQ(s.inputMap().size(), 2u);
    EXPECT_EQ(*s.inputMap()[0].attributes.find("Tag"), "t");
    s.setInputMap(3, 4);
    EXPECT_EQ(s.lin2rin(1), std::nullopt);
    EXPECT_EQ(s.lin2rin(2), std::nullopt);
    EXPECT_EQ(s.rin2lin(4), 3u);

    EXPECT_EQ(
        decodingKind([] { ZeltoRemoteSettings r(parse("<RemoteSettings><InputMap/></RemoteSettings>")); }),
        Kind::childNotFound);
    EXPECT_EQ(
        decodingKind([] { ZeltoRemoteSettings r(parse("<RemoteSettings><OutputMap/></RemoteSettings>")); }),
        Kind::childNotFound);
    EXPECT_EQ(decodingKind([] {
                  ZeltoRemoteSettings r(parse(R"(<RemoteSettings><InputMap><Channel Local="1" Remote="-2"/>)"
                                              "</InputMap><OutputMap/></RemoteSettings>"));
              }),
              Kind::attributeValueConversion);
    EXPECT_EQ(decodingKind([] {
                  ZeltoRemoteSettings r(parse(R"(<RemoteSettings><InputMap/><OutputMap><Channel Local="1"/>)"
                                              "</OutputMap></RemoteSettings>"));
              }),
              Kind::attributeNotFound);
}

}  // namespace
}  // namespace zelto
