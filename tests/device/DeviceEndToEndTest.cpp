// The device session, discovery, preset list and transfer against zelto-sim
// processes on loopback addresses of this test's private network namespace.
#include <gtest/gtest.h>

#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "device/IoRunner.h"
#include "support/SimProcess.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCMessage.h"
#include "osc/OSCTransportErrors.h"
#include "preset/Gzip.h"
#include "preset/ZeltoPreset.h"
#include "support/NetNamespace.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::SimProcess;

constexpr std::uint64_t kSecond = 1'000'000'000;

ZeltoTimings fastTimings() {
    ZeltoTimings t;
    t.pingInterval = 100ms;
    t.onlineWindow = 600ms;
    t.discoveryInterval = 300ms;
    return t;
}

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// A readable preset, compressed, padded by a comment to about `size` bytes.
std::vector<std::uint8_t> presetBytes(const std::string& name, std::size_t size) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    preset.name = name;
    auto xml = preset.toData();
    std::string text(xml.begin(), xml.end());
    std::mt19937 random(1);
    std::string padding;
    while (padding.size() < size * 17 / 10) padding += static_cast<char>('a' + random() % 26);
    text.insert(ZeltoPreset::xmlDeclaration.size(), "<!--" + padding + "-->");
    return gzip::compress(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), -1, 15);
}

// Records the delegate calls; tests wait on them.
class Recorder : public ZeltoDeviceDelegate {
  public:
    void deviceDidDisconnect(ZeltoDevice&, std::exception_ptr error) override {
        record("disconnect", error ? "error" : "");
    }
    void deviceDidComeOnline(ZeltoDevice&) override { record("online", ""); }
    void device(ZeltoDevice&, const ZeltoUser& user) override { record("user", user.name); }
    void deviceDidReceiveConfirmation5(ZeltoDevice&) override { record("confirmation5", ""); }
    void deviceDidReceiveConfirmation1(ZeltoDevice&) override { record("confirmation1", ""); }

    bool waitFor(const std::string& kind, int count = 1, std::chrono::milliseconds deadline = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return countLocked(kind) >= count; });
    }
    int count(const std::string& kind) {
        std::lock_guard lock(mutex_);
        return countLocked(kind);
    }
    std::vector<std::string> details(const std::string& kind) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (auto& [k, d] : events_) {
            if (k == kind) out.push_back(d);
        }
        return out;
    }

  private:
    void record(std::string kind, std::string detail) {
        std::lock_guard lock(mutex_);
        events_.emplace_back(std::move(kind), std::move(detail));
        changed_.notify_all();
    }
    int countLocked(const std::string& kind) {
        int n = 0;
        for (auto& e : events_) n += e.first == kind;
        return n;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::string, std::string>> events_;
};

class DeviceSession : public testing::Test {
  protected:
    std::shared_ptr<ZeltoDevice> makeDevice(const std::string& host, std::uint16_t listenPort = 9112,
                                            ZeltoTimings timings = fastTimings()) {
        auto device = ZeltoDevice::make(runner.io, {host, 9110}, listenPort, std::nullopt, timings);
        device->setDelegate(recorder);
        return device;
    }
    void connect(const std::shared_ptr<ZeltoDevice>& device, std::uint64_t timeout = 3 * kSecond) {
        runner.run(device->connect(timeout));
    }

    test::IoRunner runner;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(DeviceSession, LearnsIdentityAndEveryUserFromTheFirstBurst) {
    for (int args : {18, 19, 20}) {
        SCOPED_TRACE(args);
        SimProcess sim("127.0.0.2",
                       {"--name", "Stage", "--serial", "SN-9", "--uid", "uid-9", "--type", "XMI-ZELTO",
                        "--version", "3.2", "--users", "3", "--userinfo-args", std::to_string(args)});
        recorder = std::make_shared<Recorder>();
        auto device = makeDevice("127.0.0.2", 9112, ZeltoTimings{});
        connect(device);
        EXPECT_EQ(device->name(), "Stage");
        EXPECT_EQ(device->serialNumber(), "SN-9");
        EXPECT_EQ(device->uid(), "uid-9");
        EXPECT_EQ(device->type(), ZeltoDeviceType::xmi);
        EXPECT_EQ(device->version(), "3.2");
        EXPECT_EQ(device->numberOfInputs(), 32);
        EXPECT_EQ(device->description(), "Stage - SN-9 @ 127.0.0.2");
        // The simulator answers once, so all three users come from that one burst.
        ASSERT_TRUE(recorder->waitFor("user", 3));
        EXPECT_EQ(device->users().size(), 3u);
        EXPECT_TRUE(sim.waitForLine("switched to user 1"));
        EXPECT_TRUE(device->online());
        device->disconnect();
        ASSERT_TRUE(recorder->waitFor("disconnect"));
        EXPECT_TRUE(device->users().empty());
        EXPECT_FALSE(device->connected());
    }
}

TEST_F(DeviceSession, ReconnectsAfterDisconnectAndAddsUsersAgain) {
    SimProcess sim("127.0.0.2", {"--users", "2"});
    auto device = makeDevice("127.0.0.2");
    connect(device);
    EXPECT_THROW(connect(device), ZeltoDeviceError);
    ASSERT_TRUE(recorder->waitFor("user", 2));
    device->disconnect();
    connect(device);
    EXPECT_TRUE(recorder->waitFor("user", 4));
}

TEST_F(DeviceSession, ConnectToNothingFailsWithinItsTimeout) {
    auto device = makeDevice("127.0.0.9");
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(connect(device, kSecond / 4), OSCServerError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_FALSE(device->online());
    device->disconnect();
}

TEST_F(DeviceSession, SilentDeviceIsDisconnectedWithoutError) {
    SimProcess sim("127.0.0.2", {"--silent-after", "1"});
    auto device = makeDevice("127.0.0.2");
    connect(device);
    EXPECT_TRUE(recorder->waitFor("online"));
    ASSERT_TRUE(recorder->waitFor("disconnect", 1, 15s));
    EXPECT_EQ(recorder->details("disconnect"), std::vector<std::string>{""});
    EXPECT_FALSE(device->online());
    EXPECT_FALSE(device->connected());
    EXPECT_TRUE(device->users().empty());
}

TEST_F(DeviceSession, PresetListCarriesFileDates) {
    SimProcess sim("127.0.0.2");
    auto device = makeDevice("127.0.0.2");
    EXPECT_THROW(runner.run(device->requestPresetList(kSecond)), ZeltoDeviceError);
    sim.writePreset("Show", presetBytes("Show", 100));
    auto when = std::filesystem::file_time_type::clock::from_sys(*parseIsoDate("2021-05-01T10:00:00.123Z"));
    std::filesystem::last_write_time(sim.presets() / "Show.ZELTOshow", when);
    connect(device);
    auto list = runner.run(device->requestPresetList(kSecond));
    std::map<std::string, RemoteZeltoPreset> byName;
    for (auto& p : list) byName.emplace(p.name, p);
    ASSERT_EQ(byName.size(), 3u);
    EXPECT_TRUE(byName.count("default (PRESET)") && byName.count("defaultOFF (PRESET)"));
    EXPECT_EQ(byName.at("Show").extendedName(), "Show *[2021-05-01T10:00:00.123Z]");
}

TEST_F(DeviceSession, FetchesPresetsOfEverySegmentBoundary) {
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        SimProcess sim("127.0.0.2",
                       compress ? std::vector<std::string>{"--compress"} : std::vector<std::string>{});
        // The protocol's online window: a simulator built with sanitizers on a
        // loaded machine may take longer than the short test window to read a
        // megabyte before its first segment, and would rightly count as gone.
        auto device = makeDevice("127.0.0.2", 9112, ZeltoTimings{});
        connect(device);
        for (std::size_t size : {0u, 1u, 999u, 1000u, 1001u, 1'000'000u}) {
            std::string name = "Size " + std::to_string(size);
            SCOPED_TRACE(name);
            auto bytes = randomBytes(size, static_cast<unsigned>(size));
            sim.writePreset(name, bytes);
            RemoteZeltoPreset preset;
            ASSERT_NO_THROW(preset = runner.run(device->transferPreset(name, 30 * kSecond)));
            EXPECT_EQ(preset.name, name);
            ASSERT_TRUE(preset.bytes);
            EXPECT_TRUE(*preset.bytes == bytes);
        }
        EXPECT_EQ(device->presetSegmentHandler().pendingPresetCount(), 0u);
        device->disconnect();
    }
}

// The receiving side is stalled while the mixer sends a whole megabyte: the
// burst waits in the socket, nothing is lost on the way to the reassembly, and
// the segments themselves show that the device is alive (this simulator never
// pings, and pings would queue behind the burst anyway).
TEST_F(DeviceSession, StalledReceiverStillGetsAWholeMegabyteAndSeesTheDeviceAlive) {
    SimProcess sim("127.0.0.2", {"--silent-after", "0", "--users", "1"});
    auto bytes = randomBytes(1'000'000, 11);
    sim.writePreset("Big", bytes);
    auto device = makeDevice("127.0.0.2", 9112, ZeltoTimings{});
    connect(device);
    auto seenBefore = device->lastSeen();
    ASSERT_TRUE(seenBefore);
    auto waiter = device->presetSegmentHandler().subscribe("Big");

    // Occupy both threads of the runner: no strand of the session runs.
    struct Stall {
        std::mutex mutex;
        std::condition_variable changed;
        int stalled = 0;
        bool released = false;
        void release() {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        }
    };
    auto stall = std::make_shared<Stall>();
    std::shared_ptr<void> releaseAtEnd(nullptr, [stall](void*) { stall->release(); });
    for (int i = 0; i < 2; ++i) {
        asio::post(runner.io, [stall] {
            std::unique_lock lock(stall->mutex);
            ++stall->stalled;
            stall->changed.notify_all();
            stall->changed.wait(lock, [&] { return stall->released; });
        });
    }
    {
        std::unique_lock lock(stall->mutex);
        ASSERT_TRUE(stall->changed.wait_for(lock, 10s, [&] { return stall->stalled == 2; }));
    }
    // Asked from this thread, as the session's own client cannot run; the
    // simulator answers the session's port. It handles datagrams in order, so
    // once the blink is logged every segment has been sent.
    asio::io_context io;
    asio::ip::udp::socket raw(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    asio::ip::udp::endpoint to(asio::ip::make_address_v4("127.0.0.2"), 9110);
    raw.send_to(asio::buffer(OSCMessage(*OSCAddress::make("/ZELTOorvel/control/presetCopyToUSB"),
                                        {OSCValue("Big"), OSCValue("qv42")})
                                 .encode()),
                to);
    raw.send_to(
        asio::buffer(
            OSCMessage(*OSCAddress::make("/ZELTOorvel/Hardware/DisplayBlink"), {OSCValue("qv42")}).encode()),
        to);
    bool sent = sim.waitForLine("display blinks", 30s);
    stall->release();
    ASSERT_TRUE(sent);

    RemoteZeltoPreset preset;
    ASSERT_NO_THROW(preset = runner.run(PresetSegmentHandler::awaitPreset(waiter, 30 * kSecond), 30s));
    ASSERT_TRUE(preset.bytes);
    EXPECT_TRUE(*preset.bytes == bytes);
    EXPECT_GT(*device->lastSeen(), *seenBefore);
    EXPECT_TRUE(device->connected());
    EXPECT_EQ(recorder->count("disconnect"), 0);
}

TEST_F(DeviceSession, UnknownPresetEndsInTimeout) {
    SimProcess sim("127.0.0.2");
    auto device = makeDevice("127.0.0.2");
    connect(device);
    try {
        runner.run(device->transferPreset("Nowhere", kSecond / 5));
        FAIL() << "a preset arrived";
    } catch (const PresetSegmentHandlerError& e) {
        EXPECT_EQ(e.errorCase(), PresetSegmentHandlerError::Case::timeout);
    }
    EXPECT_TRUE(sim.waitForLine("no preset Nowhere"));
}

TEST_F(DeviceSession, SendsPresetsTheSimulatorStoresByteForByte) {
    SimProcess sim("127.0.0.2");
    // The protocol's online window: checking a received megabyte keeps a
    // sanitizer-built simulator silent for longer than the short test window.
    auto device = makeDevice("127.0.0.2", 9112, ZeltoTimings{});
    connect(device);
    EXPECT_FALSE(device->sendPreset(RemoteZeltoPreset("Empty"), false));
    int confirmations = 0;
    for (std::size_t size : {1u, 999u, 1000u, 1001u, 1'000'000u}) {
        std::string name = "Sent " + std::to_string(size);
        RemoteZeltoPreset preset(name + " *[2021-05-01T10:00:00.000Z]");
        // Arbitrary bytes reassemble but are refused; a real preset is stored.
        preset.bytes = randomBytes(size, 3);
        ASSERT_TRUE(device->sendPreset(preset, false));
        ASSERT_TRUE(sim.waitForLine("rejected preset " + name)) << testing::PrintToString(sim.lines());
        preset.bytes = presetBytes(name, size);
        ASSERT_TRUE(device->sendPreset(preset, false));
        ASSERT_TRUE(sim.waitForLine("stored preset " + name + " ("));
        ASSERT_TRUE(recorder->waitFor("confirmation5", ++confirmations));
        std::ifstream in(sim.presets() / (name + ".ZELTOshow"), std::ios::binary);
        std::vector<std::uint8_t> stored(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(stored == *preset.bytes) << name;
    }
}

TEST_F(DeviceSession, SendsADocumentAndLoadsIt) {
    SimProcess sim("127.0.0.2");
    auto device = makeDevice("127.0.0.2");
    connect(device);
    ZeltoPreset document = ZeltoPreset::defaultOff();
    document.name = "Doc";
    ASSERT_TRUE(device->sendPreset(document, true));
    ASSERT_TRUE(sim.waitForLine("current preset Doc"));
    EXPECT_TRUE(recorder->waitFor("confirmation1"));
    auto fetched = runner.run(device->transferPreset("Doc", 5 * kSecond));
    EXPECT_EQ(fetched.parse()->toData(), document.toData());
}

TEST_F(DeviceSession, CommandsReachTheDevice) {
    SimProcess sim("127.0.0.2", {"--users", "2"});
    auto device = makeDevice("127.0.0.2");
    device->identify();  // before connect: nothing to send with, and no failure
    connect(device);
    ASSERT_TRUE(recorder->waitFor("user", 2));
    sim.writePreset("Gone", presetBytes("Gone", 10));
    device->loadPreset(RemoteZeltoPreset("default (PRESET) *[2021-05-01T10:00:00.000Z]"));
    EXPECT_TRUE(sim.waitForLine("current preset default (PRESET)"));
    EXPECT_TRUE(recorder->waitFor("confirmation1"));
    device->deletePreset(RemoteZeltoPreset("Gone *[2021-05-01T10:00:00.000Z]"));
    EXPECT_TRUE(sim.waitForLine("deleted preset Gone"));
    EXPECT_FALSE(std::filesystem::exists(sim.presets() / "Gone.ZELTOshow"));
    device->identify();
    EXPECT_TRUE(sim.waitForLine("display blinks"));
    EXPECT_TRUE(device->switchUser(2));
    EXPECT_TRUE(sim.waitForLine("switched to user 2"));
    EXPECT_FALSE(device->switchUser(3));
    EXPECT_FALSE(device->switchUser(-1));
    EXPECT_FALSE(device->switchUser(ZeltoUser("Mix 1", "other icon", 1, "0000")));
    EXPECT_TRUE(device->switchUser(device->users().at(1)));
    EXPECT_TRUE(sim.waitForLine("switched to user 1"));
}

TEST_F(DeviceSession, RepeatedFetchesFillTheGapsOfALossyLink) {
    SimProcess sim("127.0.0.2", {"--loss", "20", "--seed", "5"});
    auto bytes = randomBytes(30'000, 9);
    sim.writePreset("Lossy", bytes);
    auto device = makeDevice("127.0.0.2");
    bool connected = false;
    for (int attempt = 0; attempt < 20 && !connected; ++attempt) {
        try {
            connect(device, kSecond / 2);
            connected = true;
        } catch (const std::exception&) {
            device->disconnect();
        }
    }
    ASSERT_TRUE(connected);
    int timeouts = 0;
    std::optional<RemoteZeltoPreset> fetched;
    for (int attempt = 0; attempt < 40 && !fetched; ++attempt) {
        try {
            fetched = runner.run(device->transferPreset("Lossy", kSecond / 5));
        } catch (const PresetSegmentHandlerError& e) {
            EXPECT_EQ(e.errorCase(), PresetSegmentHandlerError::Case::timeout);
            ++timeouts;
        }
    }
    EXPECT_GE(timeouts, 1);  // 30 segments at 20 % loss: the first try all but surely misses some
    ASSERT_TRUE(fetched);
    EXPECT_TRUE(*fetched->bytes == bytes);
}

TEST_F(DeviceSession, SimulatorSurvivesHostileDatagrams) {
    SimProcess sim("127.0.0.2");
    asio::ip::udp::socket raw(runner.io, asio::ip::udp::v4());
    asio::ip::udp::endpoint to(asio::ip::make_address_v4("127.0.0.2"), 9110);
    auto seg = [](const char* name, std::int32_t index, std::int32_t total) {
        return OSCMessage(*OSCAddress::make("/ZELTOorvel/control/presetSeg"),
                          {OSCValue(name), OSCValue::blob(std::vector<std::uint8_t>(10, 1)), OSCValue(index),
                           OSCValue(total), OSCValue(""), OSCValue(false), OSCValue("qv42")})
            .encode();
    };
    std::vector<std::vector<std::uint8_t>> hostile = {
        {},
        {'/', 'x'},
        {0x78, 0xDA, 0xFF, 0xFF},
        randomBytes(3000, 4),
        seg("Bogus.ZELTOshow", 0, INT32_MAX),
        seg("Bogus.ZELTOshow", -5, 3),
        seg("../../escape.ZELTOshow", 0, 1),
        OSCMessage(*OSCAddress::make("/ZELTOorvel/control/ConnectRequest"), {OSCValue("not a port")})
            .encode(),
        OSCMessage(*OSCAddress::make("/ZELTOorvel/control/presetCopyToUSB"), {OSCValue(std::int32_t(3))})
            .encode(),
    };
    for (auto& datagram : hostile) raw.send_to(asio::buffer(datagram), to);
    ASSERT_TRUE(sim.waitForLine("rejected preset ../../escape"));
    EXPECT_FALSE(std::filesystem::exists(sim.presets().parent_path() / "escape.ZELTOshow"));
    auto device = makeDevice("127.0.0.2");
    connect(device);  // still answering
    EXPECT_EQ(runner.run(device->requestPresetList(kSecond)).size(), 2u);
}

class Discovery : public testing::Test {
  protected:
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::pair<OSCEndpoint, std::string>> reports;
    };

    ZeltoDiscoverer::NewDeviceHandler recordInto(std::shared_ptr<Seen> seen) {
        return [seen](const OSCEndpoint& endpoint, const std::string& uid) {
            std::lock_guard lock(seen->mutex);
            seen->reports.emplace_back(endpoint, uid);
            seen->changed.notify_all();
        };
    }
    bool waitForReports(Seen& seen, std::size_t count) {
        std::unique_lock lock(seen.mutex);
        return seen.changed.wait_for(lock, 10s, [&] { return seen.reports.size() >= count; });
    }
    std::set<std::string> hostsAndUids(Seen& seen) {
        std::lock_guard lock(seen.mutex);
        std::set<std::string> out;
        for (auto& [endpoint, uid] : seen.reports) out.insert(endpoint.description() + " " + uid);
        return out;
    }

    test::IoRunner runner;
};

TEST_F(Discovery, UnicastHostsAreReportedOncePerPass) {
    SimProcess a("127.0.0.2", {"--uid", "uid-a", "--users", "3"});
    SimProcess b("127.0.0.3", {"--uid", "uid-b", "--users", "1", "--userinfo-args", "19"});
    auto seen = std::make_shared<Seen>();
    ZeltoDiscoverer discoverer(runner.io, asio::make_strand(runner.io), recordInto(seen));
    discoverer.setUnicastHosts({"127.0.0.2", "127.0.0.3"});
    discoverer.start(kSecond);
    discoverer.discover();
    ASSERT_TRUE(waitForReports(*seen, 2));
    EXPECT_EQ(hostsAndUids(*seen), (std::set<std::string>{"127.0.0.2:9110 uid-a", "127.0.0.3:9110 uid-b"}));
    // a answers each pass with three UserInfo. By the time the second pass
    // has been answered, the first pass's extra answers are in: none counted.
    discoverer.discover();
    ASSERT_TRUE(waitForReports(*seen, 4));
    discoverer.stop();
    std::lock_guard lock(seen->mutex);
    EXPECT_EQ(seen->reports.size(), 4u);
}

TEST_F(Discovery, TimerStartsNewPasses) {
    SimProcess a("127.0.0.2", {"--uid", "uid-a"});
    auto seen = std::make_shared<Seen>();
    ZeltoDiscoverer discoverer(runner.io, asio::make_strand(runner.io), recordInto(seen), fastTimings());
    discoverer.setUnicastHosts({"127.0.0.2"});
    discoverer.start(kSecond);
    // No pass of our own: the 300 ms timer runs them.
    EXPECT_TRUE(waitForReports(*seen, 3));
}

TEST_F(Discovery, BroadcastFindsThreeDevicesOnAVirtualLink) {
    ASSERT_EQ(test::runCommand("ip link add zva type veth peer name zvb && "
                               "ip addr add 10.9.0.1/24 brd + dev zva && "
                               "ip addr add 10.9.0.2/24 brd + dev zvb && "
                               "ip addr add 10.9.0.3/24 brd + dev zvb && "
                               "ip addr add 10.9.0.4/24 brd + dev zvb && "
                               "ip link set zva up && ip link set zvb up"),
              0);
    SimProcess a("10.9.0.2", {"--uid", "uid-a"});
    SimProcess b("10.9.0.3", {"--uid", "uid-b"});
    SimProcess c("10.9.0.4", {"--uid", "uid-c"});
    auto seen = std::make_shared<Seen>();
    ZeltoDiscoverer discoverer(runner.io, asio::make_strand(runner.io), recordInto(seen));
    discoverer.start(kSecond);
    discoverer.discover();
    ASSERT_TRUE(waitForReports(*seen, 3));
    EXPECT_EQ(hostsAndUids(*seen),
              (std::set<std::string>{"10.9.0.2:9110 uid-a", "10.9.0.3:9110 uid-b", "10.9.0.4:9110 uid-c"}));
    test::runCommand("ip link del zva");
}

}  // namespace
}  // namespace zelto
