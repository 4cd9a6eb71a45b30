#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "PresetGenerator.h"
#include "preset/ZeltoPreset.h"

namespace zelto {
namespace {

using testing::generatePreset;
using testing::PresetShape;

std::string text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
std::vector<std::uint8_t> bytes(std::string_view s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

GzipError::Kind gzipKind(auto run) {
    try {
        run();
    } catch (const GzipError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no GzipError";
    return GzipError::Kind::unknown;
}

// ---- round trips over generated presets

TEST(PresetRoundTrip, GeneratedPresetsAreWrittenBackByteForByte) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        for (bool awkward : {false, true}) {
            PresetShape shape;  // full size for the first seed
            if (seed > 1) shape.users = 6;
            shape.seed = seed;
            shape.awkwardNames = awkward;
            const std::string xml = generatePreset(shape);
            ZeltoPreset preset = ZeltoPreset::fromData(xml);
            const std::string written = text(preset.toData());
            ASSERT_EQ(written, xml) << "seed " << seed << " awkward " << awkward;
            EXPECT_EQ(text(ZeltoPreset::fromData(written).toData()), xml);
        }
    }
}

TEST(PresetRoundTrip, TheFastWriterAgreesWithTheElementTree) {
    PresetShape shape;
    shape.users = 4;
    shape.awkwardNames = true;
    ZeltoPreset preset = ZeltoPreset::fromData(generatePreset(shape));
    preset.userList.users[1].channelSettingsList.channelSettings[0].groupID = 99;  // dropped on write
    ZeltoPreset copy = preset;
    const std::string tree = std::string(ZeltoPreset::xmlDeclaration) + copy.toElement().serialize(0);
    EXPECT_EQ(text(preset.toData()), tree);
}

TEST(PresetRoundTrip, EmptyShapesAndMissingPiecesStillRoundTrip) {
    for (auto [users, groups, channels, entries] :
         {std::tuple{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 3, 0, 5}, {1, 1, 1, 1}}) {
        PresetShape shape{users, groups, channels, entries, true, false, 7};
        const std::string xml = generatePreset(shape);
        EXPECT_EQ(text(ZeltoPreset::fromData(xml).toData()), xml) << users << groups << channels << entries;
    }
}

TEST(PresetRoundTrip, UnknownContentSurvivesEdits) {
    PresetShape shape;
    shape.users = 3;
    ZeltoPreset preset = ZeltoPreset::fromData(generatePreset(shape));
    preset.name = "Renamed & <co>";
    preset.userList.users[0].name = "Solo \"Mix\"";
    const std::string written = text(preset.toData());
    for (const char* kept :
         {R"(Venue="Hall &amp; Stage")", "<Notes Author=\"FOH\">Line check at 5 &lt;pm&gt;</Notes>",
          R"(<Template Kind="band"/>)", R"(Extra="user-0")", "<Meta Key=\"k0\"/>", R"(Color="legacy")",
          R"(<Badge Shape="round"/>)", R"(Colour="residual")", "<Comment>a &amp; b</Comment>",
          R"(Label="patch 7")", R"(<Device Uid="00:11:22"/>)", R"(Name="Renamed &amp; &lt;co&gt;")",
          R"(Name="Solo &quot;Mix&quot;")"})
        EXPECT_NE(written.find(kept), std::string::npos) << kept;
    ZeltoPreset back = ZeltoPreset::fromData(written);
    EXPECT_EQ(back.name, "Renamed & <co>");
    EXPECT_EQ(back.userList.users[0].name, "Solo \"Mix\"");
}

TEST(PresetRoundTrip, ExtremeFloatsAndAwkwardNamesReadBackUnchanged) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    auto& channel = preset.userList.users[0].channelSettingsList.channelSettings[0];
    channel.r = std::numeric_limits<float>::denorm_min();
    channel.theta = std::numeric_limits<float>::max();
    channel.phi = -0.0f;
    channel.widthOffset = 1e-30f;
    channel.channelGaindB = -INFINITY;
    const std::string name = "Grüße \t\r\n <&> 日本";
    channel.name = name;
    // Writing regroups the channels, so `channel` is not to be used after this.
    const ZeltoPreset back = ZeltoPreset::fromData(preset.toData());
    const auto& c = back.userList.users[0].channelSettingsList.channelSettings[0];
    EXPECT_EQ(c.r, std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(c.theta, std::numeric_limits<float>::max());
    EXPECT_TRUE(std::signbit(c.phi));
    EXPECT_EQ(c.widthOffset, 1e-30f);
    EXPECT_EQ(c.channelGaindB, -INFINITY);
    EXPECT_EQ(c.name, name);
}

TEST(PresetRoundTrip, InvalidTextInAValueFailsTheWriteWithEncodingFailed) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    preset.userList.users[0].name = "bad \xff byte";
    EXPECT_THROW(preset.toData(), QVXMLEncodingError);
    EXPECT_THROW(preset.toCompressedData(), QVXMLEncodingError);
}

// ---- the direct reader against the element tree

void expectSameElement(const QVXMLElement& a, const QVXMLElement& b, const std::string& where) {
    EXPECT_TRUE(a.sameContent(b)) << where << "\n" << a.description() << "\n" << b.description();
}

// Everything the two readings hold: typed fields (through the trees they write) and residual content.
void expectSamePreset(const ZeltoPreset& a, const ZeltoPreset& b) {
    expectSameElement(a, b, "preset");
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.version, b.version);
    expectSameElement(a.userList, b.userList, "user list");
    ZeltoRemoteSettings ra = a.userList.remoteSettings, rb = b.userList.remoteSettings;
    expectSameElement(ra.toElement(), rb.toElement(), "remote settings");
    ASSERT_EQ(a.userList.users.size(), b.userList.users.size());
    for (std::size_t u = 0; u < a.userList.users.size(); ++u) {
        const ZeltoUser &ua = a.userList.users[u], &ub = b.userList.users[u];
        expectSameElement(ua.toElement(), ub.toElement(), "user " + std::to_string(u));
        const auto &ca = ua.channelSettingsList.channelSettings, &cb = ub.channelSettingsList.channelSettings;
        ASSERT_EQ(ca.size(), cb.size());
        for (std::size_t c = 0; c < ca.size(); ++c)
            expectSameElement(ca[c].toElement(), cb[c].toElement(), "channel " + std::to_string(c));
    }
}

std::string failure(auto read) {
    try {
        read();
    } catch (const QVXMLParserError& error) {
        return std::string("parser: ") + error.what();
    } catch (const QVXMLDecodingError& error) {
        return std::string("decoding: ") + error.what();
    }
    return "";
}

TEST(PresetReading, TheDirectReaderAgreesWithTheElementTree) {
    PresetShape shape;
    shape.users = 5;
    shape.awkwardNames = true;
    const std::string channel =
        R"(<ChannelSettings ChannelGaindB="-6.0" ChannelMode="3" Color="#FF0000" GroupID="1" Icon="mic" )"
        R"(Index="4" InputChannel="12" LinkedStereoChannel="-1" Mute="0" Name="Kick" Phi="0.5" R="1e-05" )"
        R"(Solo="1" Theta="1.25" Visible="true" WidthOffset="0.0")";
    const std::string group = R"(<Group Colour="c" ID="1" Icon="g" Name="G"/>)";
    const std::string user = R"(<User Icon="i" MixHide="0" Name="Anna" PhaseInvert="0">)";
    const std::string remote = "<RemoteSettings><InputMap/><OutputMap/></RemoteSettings>";
    auto preset = [&](const std::string& userBody, const std::string& listTail = "") {
        return R"(<Preset Name="Show" Version="1">text<UserList>)" + user + userBody + "</User>" + remote +
               listTail + "</UserList></Preset>";
    };
    const std::string documents[] = {
        generatePreset(shape),
        // Text, residual content and typed names where they are not typed.
        preset("\n x <Groups a=\"1\">t" + group + "<Note/></Groups><ChannelSettingsList b=\"2\">list " +
               channel + ">spare<ChannelSettings/></ChannelSettings><Group/>" + channel +
               " Zeta=\"z\"/></ChannelSettingsList><User/>"),
        // Shapes the element constructors take their own way: repeated known children.
        preset("<Groups>" + group + "</Groups><Groups>" + group + "</Groups><ChannelSettingsList/>"),
        preset("<Groups/><ChannelSettingsList/><ChannelSettingsList>" + channel + "/></ChannelSettingsList>"),
        preset("<Groups/><ChannelSettingsList/>", "<RemoteSettings/>"),
        R"(<P Name="a" Version="b"><UserList>)" + remote + "</UserList><UserList/></P>",
        // Faults, parse errors winning over decoding errors.
        preset("<Groups/>"),
        preset("<Groups/><ChannelSettingsList>" + channel + " R=\"x\"/></ChannelSettingsList>"),
        preset("<Groups/><ChannelSettingsList/>", "<bad"),
        preset("<Groups><Group/></Groups><ChannelSettingsList/>"),
        R"(<Preset Name="a"><UserList>)" + remote + "</UserList></Preset>",
        R"(<Preset Name="a" Version="b"><UserList><RemoteSettings/></UserList></Preset>)",
        R"(<!DOCTYPE p><Preset Name="a" Version="b"/>)",
        "",
    };
    for (const std::string& xml : documents) {
        SCOPED_TRACE(xml.substr(0, 200));
        const auto compressed = gzip::compress(bytes(xml));
        const std::string expected = failure([&] { ZeltoPreset p(QVXMLParser(xml).parse()); });
        EXPECT_EQ(failure([&] { ZeltoPreset::fromData(xml); }), expected);
        EXPECT_EQ(failure([&] { ZeltoPreset::fromCompressedData(compressed); }), expected);
        if (!expected.empty()) continue;
        const ZeltoPreset tree(QVXMLParser(xml).parse());
        expectSamePreset(ZeltoPreset::fromData(xml), tree);
        expectSamePreset(ZeltoPreset::fromCompressedData(compressed), tree);
    }
}

// ---- the bytes

TEST(PresetBytes, DeclarationThenRootWithNoTrailingLineFeed) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    const std::string data = text(preset.toData());
    ASSERT_GT(data.size(), 39u);
    EXPECT_EQ(data.substr(0, 38), R"(<?xml version="1.0" encoding="UTF-8"?>)");
    EXPECT_EQ(data[38], '<');
    EXPECT_EQ(data.back(), '>');
    EXPECT_EQ(text(preset.toData()), data) << "writing twice gives the same bytes";
}

TEST(PresetBytes, CompressedFormIsOneZlibStreamOfExactlyTheText) {
    PresetShape shape;
    shape.users = 8;
    ZeltoPreset preset = ZeltoPreset::fromData(generatePreset(shape));
    const auto compressed = preset.toCompressedData();
    ASSERT_GE(compressed.size(), 2u);
    EXPECT_EQ(compressed[0], 0x78);
    EXPECT_EQ(compressed[1], 0x9C);
    EXPECT_EQ(gzip::decompress(compressed, 0), preset.toData());
    // Independently of our wrapper.
    std::vector<std::uint8_t> inflated(preset.toData().size());
    uLongf size = inflated.size();
    ASSERT_EQ(uncompress(inflated.data(), &size, compressed.data(), compressed.size()), Z_OK);
    EXPECT_EQ(size, inflated.size());
    EXPECT_EQ(ZeltoPreset::fromCompressedData(compressed).toData(), preset.toData());
}

TEST(PresetBytes, BadCompressedInputGivesTheZlibErrorKind) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    auto compressed = preset.toCompressedData();
    auto truncated = compressed;
    truncated.resize(truncated.size() / 2);
    auto corrupt = compressed;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[corrupt.size() / 2 + 1] ^= 0xAA;
    std::vector<std::uint8_t> gzipMember = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0, 0x03,
                                            0x03, 0,    0,    0,    0, 0, 0, 0, 0, 0};
    using K = GzipError::Kind;
    EXPECT_EQ(gzipKind([&] { ZeltoPreset::fromCompressedData(truncated); }), K::buffer);
    EXPECT_EQ(gzipKind([&] { ZeltoPreset::fromCompressedData(corrupt); }), K::data);
    EXPECT_EQ(gzipKind([&] { ZeltoPreset::fromCompressedData(gzipMember); }), K::data);
    EXPECT_EQ(gzipKind([&] { ZeltoPreset::fromCompressedData(bytes("plain text")); }), K::data);
    EXPECT_THROW(ZeltoPreset::fromCompressedData(std::vector<std::uint8_t>{}), QVXMLParserError)
        << "empty input inflates to empty text, which does not parse";
    try {
        ZeltoPreset::fromCompressedData(gzipMember);
    } catch (const GzipError& error) {
        EXPECT_EQ(error.message(), "incorrect header check");
    }
    try {
        gzip::decompress(truncated, 0);
    } catch (const GzipError& error) {
        EXPECT_EQ(error.message(), "Unknown gzip error");
    }
}

// An unbounded inflate let a few kilobytes ask for gigabytes.
TEST(PresetBytes, InflatedSizeIsCapped) {
    const std::vector<std::uint8_t> zeros(gzip::maxInflatedSize + 1, 0);
    const auto bomb = gzip::compress(zeros);
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_EQ(gzipKind([&] { ZeltoPreset::fromCompressedData(bomb); }), GzipError::Kind::memory);
    const auto small = gzip::compress(std::vector<std::uint8_t>(1000, 7));
    for (std::size_t cap : {999u, 1000u, 1001u}) {
        if (cap < 1000) {
            EXPECT_EQ(gzipKind([&] { gzip::decompress(small, 0, cap); }), GzipError::Kind::memory);
        } else {
            EXPECT_EQ(gzip::decompress(small, 0, cap).size(), 1000u) << cap;
        }
    }
}

TEST(PresetBytes, ZlibWrapperEdgesKeepTheirKinds) {
    EXPECT_TRUE(gzip::compress({}).empty());
    EXPECT_TRUE(gzip::decompress({}).empty());
    EXPECT_EQ(gzipKind([] { gzip::compress(bytes("x"), 42); }), GzipError::Kind::stream);
    // A raw window (no zlib header) read with window bits 0 is refused.
    EXPECT_EQ(gzipKind([] { gzip::decompress(gzip::compress(bytes("hello"), -1, -15), 0); }),
              GzipError::Kind::data);
    // A stream that needs a preset dictionary: a code of no listed kind, and no zlib message.
    std::vector<std::uint8_t> stream(64);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, Z_DEFAULT_COMPRESSION), Z_OK);
    ASSERT_EQ(deflateSetDictionary(&z, reinterpret_cast<const Bytef*>("dict"), 4), Z_OK);
    std::uint8_t input[] = {'d', 'i', 'c', 't'};
    z.next_in = input;
    z.avail_in = 4;
    z.next_out = stream.data();
    z.avail_out = static_cast<uInt>(stream.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    stream.resize(z.total_out);
    deflateEnd(&z);
    try {
        gzip::decompress(stream);
        ADD_FAILURE() << "no error";
    } catch (const GzipError& error) {
        EXPECT_EQ(error.kind(), GzipError::Kind::unknown);
        EXPECT_EQ(error.code(), Z_NEED_DICT);
        EXPECT_STREQ(error.what(), "Unknown gzip error");
    }
}

// ---- the built-in preset, colours, equality

TEST(BuiltInPreset, IsTheDefaultOffPresetWithUsersGroupsChannelsAndMaps) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    EXPECT_EQ(preset.name, "defaultOFF (PRESET)");
    ASSERT_FALSE(preset.userList.users.empty());
    for (const auto& user : preset.userList.users) {
        EXPECT_FALSE(user.groups.empty());
        EXPECT_FALSE(user.channelSettingsList.channelSettings.empty());
    }
    EXPECT_FALSE(preset.userList.remoteSettings.inputMap().empty());
    EXPECT_FALSE(preset.userList.remoteSettings.outputMap().empty());
    EXPECT_EQ(text(preset.toData()), emptyPresetResource()) << "the resource is in the written layout";
}

TEST(GroupColours, ChannelsTakeTheColourAtTheirGroupIDInIdOrder) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    auto& user = preset.userList.users[0];
    user.groups = {ZeltoGroup(2, "a", "i", "R"), ZeltoGroup(0, "b", "i", "G"), ZeltoGroup(1, "c", "i", "B")};
    auto& channels = user.channelSettingsList.channelSettings;
    channels.resize(4);
    for (std::size_t i = 0; i < 4; ++i) {
        channels[i].groupID = i;
        channels[i].color = "unchanged";
    }
    auto& other = preset.userList.users[1];
    other.groups = {ZeltoGroup(0, "x", "i", "X")};
    other.channelSettingsList.channelSettings.resize(1);
    other.channelSettingsList.channelSettings[0].groupID = 0;
    preset.applyGroupColorsToChannelColors();
    EXPECT_EQ(channels[0].color, "G");
    EXPECT_EQ(channels[1].color, "B");
    EXPECT_EQ(channels[2].color, "R");
    EXPECT_EQ(channels[3].color, "unchanged") << "no group at that position";
    EXPECT_EQ(other.channelSettingsList.channelSettings[0].color, "X") << "each user uses its own groups";
}

// A name typed on one system and stored decomposed on another is still the same preset.
TEST(PresetEquality, NamesCompareByCanonicalEquivalenceOnly) {
    ZeltoPreset a = ZeltoPreset::defaultOff();
    ZeltoPreset b = ZeltoPreset::defaultOff();
    b.userList.users.clear();
    b.version = "9";
    EXPECT_EQ(a, b) << "content and version do not count";
    a.name = "Caf\xc3\xa9 Show";   // precomposed e-acute
    b.name = "Cafe\xcc\x81 Show";  // e + combining acute
    EXPECT_EQ(a, b);
    b.name = "Cafe Show";
    EXPECT_FALSE(a == b);
    b.name = "caf\xc3\xa9 show";
    EXPECT_FALSE(a == b) << "letter case counts";
    a.name = "bad \xff";
    b.name = "bad \xfe";
    EXPECT_FALSE(a == b) << "invalid text compares by bytes";
    EXPECT_EQ(ZeltoUser("Ren\xc3\xa9", "i", 0, "0"), ZeltoUser("Rene\xcc\x81", "i", 0, "0"));
}

}  // namespace
}  // namespace zelto
