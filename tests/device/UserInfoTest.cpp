#include <gtest/gtest.h>

#include "device/Interface.h"
#include "device/UserInfo.h"
#include "osc/OSCMessage.h"

namespace zelto {
namespace {

// A well-formed UserInfo of `count` arguments whose uid sits where the
// protocol puts it; every other slot holds a decoy string.
std::vector<OSCValue> userInfoValues(std::size_t count) {
    std::vector<OSCValue> v(count, OSCValue("decoy"));
    v[0] = OSCValue("Drums");
    v[1] = OSCValue("drum-icon");
    v[2] = OSCValue(std::int32_t(3));
    v[4] = OSCValue("SN-1");
    v[7] = OSCValue("ZELTO:tessa");
    v[8] = OSCValue("2.1");
    v[11] = OSCValue("Stage Left");
    v[12] = OSCValue(std::int32_t(32));
    v[13] = OSCValue(std::int32_t(-16));
    v[15] = OSCValue(std::int32_t(1));
    v[16] = OSCValue("0101");
    v[UserInfo::uidIndex(count)] = OSCValue("uid-A");
    return v;
}

std::optional<UserInfo> parse(const std::vector<OSCValue>& values) {
    return UserInfo::fromMessage(*OSCMessage::make("/ZELTOapp/control/UserInfo", values));
}

class UidIndex : public testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(UidIndex, FollowsTheArgumentCount) {
    auto [count, index] = GetParam();
    auto values = userInfoValues(count);
    ASSERT_EQ(values[index], OSCValue("uid-A"));
    auto info = parse(values);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->uid, "uid-A");
}

INSTANTIATE_TEST_SUITE_P(Counts, UidIndex,
                         testing::Values(std::pair<std::size_t, std::size_t>{18, 17}, std::pair{19, 18},
                                         std::pair{20, 17}, std::pair{25, 17}));

TEST(UserInfoParse, ReadsEveryField) {
    auto info = parse(userInfoValues(18));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->userName, "Drums");
    EXPECT_EQ(info->userIcon, "drum-icon");
    EXPECT_EQ(info->userNumber, 3u);
    EXPECT_EQ(info->serialNumber, "SN-1");
    EXPECT_EQ(info->deviceType, ZeltoDeviceType::tessa);
    EXPECT_EQ(info->version, "2.1");
    EXPECT_EQ(info->name, "Stage Left");
    EXPECT_EQ(info->numberOfInputs, 32);
    EXPECT_EQ(info->numberOfOutputs, -16);
    EXPECT_EQ(info->userHideMix, 1);
    EXPECT_EQ(info->userPhaseInvert, "0101");
}

TEST(UserInfoParse, RejectsMalformedMessages) {
    struct Case {
        const char* why;
        std::function<void(std::vector<OSCValue>&)> change;
    };
    const Case cases[] = {
        {"17 arguments", [](auto& v) { v.pop_back(); }},
        {"unknown type", [](auto& v) { v[7] = OSCValue("ZELTO:Orvel"); }},
        {"type not a string", [](auto& v) { v[7] = OSCValue(std::int32_t(1)); }},
        {"user number a string", [](auto& v) { v[2] = OSCValue("3"); }},
        {"negative user number", [](auto& v) { v[2] = OSCValue(std::int32_t(-1)); }},
        {"64-bit input count", [](auto& v) { v[12] = OSCValue(std::int64_t(32)); }},
        {"uid not a string", [](auto& v) { v[17] = OSCValue(std::int32_t(9)); }},
        {"name a blob", [](auto& v) { v[11] = OSCValue::blob(std::vector<std::uint8_t>{1}); }},
    };
    for (const auto& c : cases) {
        auto values = userInfoValues(18);
        c.change(values);
        EXPECT_FALSE(parse(values)) << c.why;
    }
}

TEST(UserInfoParse, IgnoresUnreadSlots) {
    auto values = userInfoValues(19);
    for (std::size_t i : {3u, 5u, 6u, 9u, 10u, 14u, 17u}) values[i] = OSCValue(std::int64_t(i));
    EXPECT_TRUE(parse(values));
}

TEST(DeviceType, ExactRawValuesOnly) {
    const std::pair<const char*, ZeltoDeviceType> known[] = {{"ZELTO:marut", ZeltoDeviceType::marut},
                                                             {"ZELTO:tessa", ZeltoDeviceType::tessa},
                                                             {"ZELTO:orvel", ZeltoDeviceType::orvel},
                                                             {"XMI-ZELTO", ZeltoDeviceType::xmi},
                                                             {"ZELTO:sendi", ZeltoDeviceType::sendi}};
    for (auto [text, type] : known) {
        EXPECT_EQ(zeltoDeviceTypeFromRawValue(text), type);
        EXPECT_EQ(rawValue(type), text);
    }
    for (const char* text : {"", "zelto:marut", "ZELTO:marut ", "XMI"})
        EXPECT_FALSE(zeltoDeviceTypeFromRawValue(text));
}

TEST(Interfaces, LoopbackIsListedWithItsFlags) {
    bool sawLoopback = false;
    for (const auto& entry : Interface::allInterfaces()) {
        EXPECT_NE(entry.family, Interface::Family::other);
        EXPECT_TRUE(entry.address);
        if (entry.address == "127.0.0.1") {
            sawLoopback = true;
            EXPECT_TRUE(entry.isLoopback());
            EXPECT_EQ(entry.netmask, "255.0.0.0");
            EXPECT_FALSE(entry.broadcastAddress);
        }
    }
    EXPECT_TRUE(sawLoopback);
}

}  // namespace
}  // namespace zelto
