// The parts of a device that need no peer: identity text, equality, and the
// commands before any session exists.
#include <gtest/gtest.h>

#include <unordered_set>

#include "device/IoRunner.h"
#include "device/ZeltoDevice.h"
#include "preset/ZeltoPreset.h"

namespace zelto {
namespace {

class UnconnectedDevice : public testing::Test {
  protected:
    std::shared_ptr<ZeltoDevice> make(const std::string& host, std::optional<std::string> uid = "u1") {
        return ZeltoDevice::make(runner.io, {host, 1234}, 9112, uid);
    }
    test::IoRunner runner;
};

TEST_F(UnconnectedDevice, MadeOnlyFromDottedIpv4) {
    for (const char* host : {"", "localhost", "::1", "192.168.1", "192.168.1.256", "192.168.1.20 "}) {
        EXPECT_EQ(make(host), nullptr) << host;
    }
    auto device = make("192.168.1.20");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->port(), 9110);  // never the endpoint's port
    EXPECT_EQ(device->uid(), "u1");
}

TEST_F(UnconnectedDevice, DescribesItselfByAddressBeforeUserInfo) {
    EXPECT_EQ(make("192.168.1.20")->description(), "192.168.1.20:9110");
}

TEST_F(UnconnectedDevice, EqualityFollowsIpAndIdentity) {
    auto a = make("10.0.0.1"), same = make("10.0.0.1"), otherIp = make("10.0.0.2"),
         otherUid = make("10.0.0.1", "u2"), noUid = make("10.0.0.1", std::nullopt);
    EXPECT_TRUE(*a == *same);
    EXPECT_EQ(a->hash(), same->hash());
    EXPECT_FALSE(*a == *otherIp);
    EXPECT_FALSE(*a == *otherUid);
    EXPECT_FALSE(*a == *noUid);
    std::unordered_set<std::size_t> hashes{a->hash(), otherIp->hash(), otherUid->hash(), noUid->hash()};
    EXPECT_EQ(hashes.size(), 4u);
}

// Written out from the protocol: each send may wait one second, no less.
TEST_F(UnconnectedDevice, TimingsAreTheProtocols) {
    const ZeltoTimings t = make("10.0.0.1")->timings();
    EXPECT_EQ(t.sendTimeout, 1'000'000'000u);
    EXPECT_EQ(t.scaledDown(10).sendTimeout, 1'000'000'000u);
    EXPECT_EQ(t.pingInterval, std::chrono::seconds(5));
    EXPECT_EQ(t.onlineWindow, std::chrono::seconds(10));
    EXPECT_EQ(t.discoveryInterval, std::chrono::seconds(30));
}

TEST_F(UnconnectedDevice, CommandsWithoutSessionSendNothingAndDoNotFail) {
    auto device = make("127.0.0.1");
    device->identify();
    device->loadPreset("A");
    device->deletePreset("A");
    EXPECT_FALSE(device->switchUser(1));
    EXPECT_FALSE(device->switchUser(ZeltoUser("Mix", "i", 0, "0")));
    EXPECT_FALSE(device->online());
    EXPECT_FALSE(device->lastSeen());
    EXPECT_TRUE(device->users().empty());
    device->disconnect();  // no session: nothing happens
}

TEST_F(UnconnectedDevice, SendPresetReportsWhetherThereWasSomethingToSend) {
    auto device = make("127.0.0.1");
    RemoteZeltoPreset preset("A");
    EXPECT_FALSE(device->sendPreset(preset, false));
    preset.bytes = std::vector<std::uint8_t>{};
    EXPECT_FALSE(device->sendPreset(preset, true));
    preset.bytes = std::vector<std::uint8_t>(2500, 1);
    EXPECT_TRUE(device->sendPreset(preset, false));
    EXPECT_TRUE(device->sendPreset(ZeltoPreset::defaultOff(), false));
}

TEST_F(UnconnectedDevice, ListAndFetchNeedASession) {
    auto device = make("127.0.0.1");
    try {
        runner.run(device->requestPresetList(1'000'000'000));
        FAIL() << "a list without a session";
    } catch (const ZeltoDeviceError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoDeviceError::Case::deviceIsOffline);
    }
    try {
        runner.run(device->transferPreset("A", 10'000'000'000));
        FAIL() << "a preset without a session";
    } catch (const ZeltoDeviceError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoDeviceError::Case::deviceIsOffline);
    }
}

}  // namespace
}  // namespace zelto
