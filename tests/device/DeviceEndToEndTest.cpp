// The device session, discovery, preset list and transfer against zelto-sim
// processes on loopback addresses of this test's private network namespace.
#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_future.hpp>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "device/IoRunner.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCTransportErrors.h"
#include "preset/Gzip.h"
#include "preset/ZeltoPreset.h"
#include "support/NetNamespace.h"
#include "support/SimProcess.h"

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
    // Called on the device's queue after each event was recorded.
    std::function<void(const std::string& kind, const std::string& detail)> onEvent;

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
    // The kinds recorded after the first event of `kind`.
    std::vector<std::string> kindsAfter(const std::string& kind) {
        std::lock_guard lock(mutex_);
        auto first = std::find_if(events_.begin(), events_.end(), [&](auto& e) { return e.first == kind; });
        std::vector<std::string> out;
        if (first != events_.end()) {
            for (++first; first != events_.end(); ++first) out.push_back(first->first);
        }
        return out;
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
        {
            std::lock_guard lock(mutex_);
            events_.emplace_back(kind, detail);
            changed_.notify_all();
        }
        if (onEvent) onEvent(kind, detail);
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
                                            ZeltoTimings timings = ZeltoTimings{}) {
        auto device = ZeltoDevice::make(runner.io, {host, 9110}, listenPort, std::nullopt, timings);
        device->setDelegate(recorder);
        return device;
    }
    void connect(const std::shared_ptr<ZeltoDevice>& device, std::uint64_t timeout = 3 * kSecond) {
        runner.run(device->connect(timeout));
    }

    // Starts `work` on a strand and returns once it waits.
    template <class T>
    std::future<void> waiting(Task<T> work) {
        auto strand = asio::make_strand(runner.io);
        auto future = asio::co_spawn(strand, discard(std::move(work)), asio::use_future);
        std::promise<void> reached;
        asio::post(strand, [&reached] { reached.set_value(); });
        reached.get_future().wait();
        return future;
    }
    template <class T>
    static Task<void> discard(Task<T> work) {
        co_await std::move(work);
    }

    test::IoRunner runner;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(DeviceSession, LearnsIdentityAndEveryUserFromTheFirstBurst) {
    for (int args : {18, 19, 20}) {
        SCOPED_TRACE(args);
        SimProcess sim("127.0.0.2",
                       {"--name", "Stage", "--serial", "SN-9", "--uid", "uid-9", "--type", "XMI-ZELTO",
                        "--firmware", "3.2", "--users", "3", "--userinfo-args", std::to_string(args)});
        recorder = std::make_shared<Recorder>();
        auto device = makeDevice("127.0.0.2");
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
    auto device = makeDevice("127.0.0.2", 9112, fastTimings());
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

// The simulator refuses whatever is off the protocol, one fact off or junk,
// logs why and acts on none of it; it still serves a proper session afterwards.
TEST_F(DeviceSession, SimulatorRefusesEveryMessageOffTheProtocol) {
    SimProcess sim("127.0.0.2");
    asio::ip::udp::socket raw(runner.io, asio::ip::udp::v4());
    asio::ip::udp::endpoint to(asio::ip::make_address_v4("127.0.0.2"), 9110);
    auto encode = [](const char* address, std::initializer_list<OSCValue> values) {
        return OSCMessage::make(address, values)->encode();
    };
    auto seg = [&](const char* name, std::size_t size, std::int32_t index, std::int32_t total,
                   const char* fifth = "") {
        return encode("/ZELTOorvel/control/presetSeg",
                      {OSCValue(name), OSCValue::blob(std::vector<std::uint8_t>(size, 1)), OSCValue(index),
                       OSCValue(total), OSCValue(fifth), OSCValue(false), OSCValue("qv42")});
    };
    auto listRequest =
        *OSCMessage::make("/ZELTOorvel/control/RequestListOfPresets", {OSCValue(true), OSCValue("qv42")});
    auto loneSizeField = OSCBundle(1, {listRequest}).encode();
    loneSizeField.insert(loneSizeField.end(), {0, 0, 0, 8});
    auto badPadding = encode("/Zo/Ping", {OSCValue(std::int32_t(9112)), OSCValue("qv42")});
    badPadding[9] = 'x';
    auto trailing = encode("/ZELTOorvel/Hardware/DisplayBlink", {OSCValue("qv42")});
    trailing.resize(trailing.size() + 4);
    auto connectRequest = [&](std::int32_t port, std::int32_t magic, const char* tag) {
        return encode("/ZELTOorvel/control/ConnectRequest", {OSCValue(port), OSCValue(magic), OSCValue(tag)});
    };
    const std::pair<std::vector<std::uint8_t>, std::string> refused[] = {
        {{}, "empty datagram"},
        {{'/', 'x'}, "size not a multiple of 4"},
        {{0x78, 0xDA, 0xFF, 0xFF}, "not an OSC packet"},
        {randomBytes(3000, 4), ""},
        {connectRequest(9112, 50415, "qv42"), "connect magic 50415"},
        {connectRequest(9112, 50414, "qv43"), "client tag \"qv43\""},
        {connectRequest(9998, 50414, "qv69"), "discovery answer port 9998"},
        {connectRequest(9999, 50414, "qv42"), "session answer port 9999"},
        {encode("/ZELTOorvel/control/ConnectRequest", {OSCValue("not a port")}), "type tags ,s, not ,iis"},
        {encode("/Zo/Ping", {OSCValue(std::int32_t(9112)), OSCValue("qv69")}), "client tag \"qv69\""},
        {badPadding, "address padding is not NUL"},
        {trailing, "bytes after the last argument"},
        {encode("/ZELTOorvel/control/presetCopy", {OSCValue("A"), OSCValue("qv42")}), "unknown address"},
        {encode("/ZELTOorvel/control/presetCopyToUSB", {OSCValue(std::int32_t(3))}), "type tags ,i, not ,ss"},
        {encode("/ZELTOorvel/control/presetSelect", {OSCValue("A.ZELTOshow"), OSCValue("qv42")}),
         "preset name with the file suffix"},
        {encode("/ZELTOorvel/control/SwitchUser",
                {OSCValue(std::int32_t(9)), OSCValue(""), OSCValue("qv42")}),
         "no user 9"},
        {listRequest.encode(), "message outside a bundle"},
        {OSCBundle(0, {listRequest}).encode(), "bundle time tag 0"},
        {loneSizeField, "size field without an element"},
        {seg("Bogus", 10, 0, 1), "segment name without \".ZELTOshow\""},
        {seg("Bogus *[2021-05-01T10:00:00.000Z].ZELTOshow", 10, 0, 1), "preset name with a date suffix"},
        {seg("Bogus.ZELTOshow", 999, 0, 2), "segment 0 of 2 holds 999 bytes"},
        {seg("Bogus.ZELTOshow", 10, 0, INT32_MAX), "segment 0 of 2147483647 holds 10 bytes"},
        {seg("Bogus.ZELTOshow", 10, -5, 3), "segment index -5 of 3"},
        {seg("Bogus.ZELTOshow", 10, 0, 0), "segment total 0"},
        {seg("Bogus.ZELTOshow", 10, 0, 1, "x"), "fifth segment argument"},
    };
    for (auto& [datagram, why] : refused) raw.send_to(asio::buffer(datagram), to);
    // Well-formed, but no name to store under.
    auto escape = seg("../../escape.ZELTOshow", 10, 0, 1);
    raw.send_to(asio::buffer(escape), to);
    ASSERT_TRUE(sim.waitForLine("rejected preset ../../escape"));
    EXPECT_FALSE(std::filesystem::exists(sim.presets().parent_path() / "escape.ZELTOshow"));

    auto errors = sim.takeProtocolErrors();
    ASSERT_EQ(errors.size(), std::size(refused)) << testing::PrintToString(sim.lines());
    for (std::size_t i = 0; i < errors.size(); ++i)
        EXPECT_NE(errors[i].find("protocol error: " + refused[i].second), std::string::npos) << errors[i];
    EXPECT_EQ(sim.countLines("received "), 1) << "only the one well-formed segment is acted on";
    auto device = makeDevice("127.0.0.2");
    connect(device);
    EXPECT_EQ(runner.run(device->requestPresetList(kSecond)).size(), 2u);
}

// One UserInfo as a mixer sends it, for a mixer played by the test itself.
std::vector<std::uint8_t> userInfoDatagram(int user) {
    std::vector<OSCValue> values = {OSCValue("Mix " + std::to_string(user)),
                                    OSCValue("icon"),
                                    OSCValue(std::int32_t(user)),
                                    OSCValue(std::int32_t(0)),
                                    OSCValue("SN-raw"),
                                    OSCValue(""),
                                    OSCValue(std::int32_t(0)),
                                    OSCValue("ZELTO:orvel"),
                                    OSCValue("1.0"),
                                    OSCValue(""),
                                    OSCValue(std::int32_t(0)),
                                    OSCValue("Raw"),
                                    OSCValue(std::int32_t(32)),
                                    OSCValue(std::int32_t(16)),
                                    OSCValue(std::int32_t(0)),
                                    OSCValue(std::int32_t(0)),
                                    OSCValue("0000"),
                                    OSCValue("uid-raw")};
    return OSCMessage(*OSCAddress::make("/ZELTOapp/control/UserInfo"), values).encode();
}

template <class T>
bool readyWithin(std::future<T>& future, std::chrono::milliseconds deadline = 10s) {
    return future.wait_for(deadline) == std::future_status::ready;
}

ZeltoDeviceError::Case deviceErrorOf(std::future<void>& future) {
    try {
        future.get();
    } catch (const ZeltoDeviceError& e) {
        return e.errorCase();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected error " << e.what();
    }
    ADD_FAILURE() << "the wait did not fail";
    return ZeltoDeviceError::Case::deviceIsOffline;
}

TEST_F(DeviceSession, NoEventOfASessionFollowsItsDisconnect) {
    asio::ip::udp::socket mixer(runner.io, {asio::ip::make_address_v4("127.0.0.2"), 9110});
    asio::ip::udp::endpoint session(asio::ip::make_address_v4("127.0.0.1"), 9112);
    auto device = makeDevice("127.0.0.2");
    auto connecting = runner.spawn(device->connect(5 * kSecond));
    std::vector<std::uint8_t> request(2048);
    asio::ip::udp::endpoint from;
    auto received = mixer.async_receive_from(asio::buffer(request), from, asio::use_future);
    ASSERT_TRUE(readyWithin(received));
    mixer.send_to(asio::buffer(userInfoDatagram(1)), session);
    ASSERT_TRUE(readyWithin(connecting));
    connecting.get();
    ASSERT_TRUE(recorder->waitFor("user"));
    // The owner ends the session while a burst of UserInfo is still being dispatched.
    recorder->onEvent = [&](const std::string& kind, const std::string& detail) {
        if (kind == "user" && detail == "Mix 2") device->disconnect();
    };
    for (int user = 2; user < 400; ++user) mixer.send_to(asio::buffer(userInfoDatagram(user)), session);
    ASSERT_TRUE(recorder->waitFor("disconnect"));
    // Late callbacks of the ended session would add the rest of the burst.
    recorder->waitFor("user", 399, 300ms);
    EXPECT_EQ(recorder->kindsAfter("disconnect"), std::vector<std::string>{});
    EXPECT_TRUE(device->users().empty());
    recorder->onEvent = nullptr;
}

TEST_F(DeviceSession, ASessionEndedWhileConnectingLeavesNoServerBound) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        SCOPED_TRACE(attempt);
        // The protocol's ping interval: a leaked session would hold its server for seconds.
        auto device = makeDevice("127.0.0.9");
        auto connecting = runner.spawn(device->connect(5 * kSecond));
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!device->connected() && std::chrono::steady_clock::now() < deadline) {
        }
        device->disconnect();
        ASSERT_TRUE(readyWithin(connecting, 2s)) << "ending the session ends its connect";
        EXPECT_ANY_THROW(connecting.get());
        asio::ip::udp::socket probe(runner.io, asio::ip::udp::v4());
        std::error_code error;
        probe.bind({asio::ip::address_v4::any(), 9112}, error);
        ASSERT_FALSE(error) << "port 9112 still bound: " << error.message();
    }
}

TEST_F(DeviceSession, PendingOperationsKeepTheirDeviceAlive) {
    SimProcess sim("127.0.0.2");
    sim.writePreset("Show", presetBytes("Show", 100));
    auto device = makeDevice("127.0.0.2");
    auto connecting = device->connect(3 * kSecond);
    device.reset();  // the owner lets go while connect has not even started
    runner.run(std::move(connecting));

    auto other = makeDevice("127.0.0.2", 9113);
    connect(other);
    auto fetch = other->transferPreset("Show", 5 * kSecond);
    auto list = other->requestPresetList(kSecond);
    other.reset();
    EXPECT_EQ(runner.run(std::move(fetch)).name, "Show");
    EXPECT_EQ(runner.run(std::move(list)).size(), 3u);
}

TEST_F(DeviceSession, AThrowingDelegateDoesNotStopTheSession) {
    struct Throwing : Recorder {
        void deviceDidComeOnline(ZeltoDevice& d) override {
            Recorder::deviceDidComeOnline(d);
            throw std::runtime_error("online handler failed");
        }
        void device(ZeltoDevice& d, const ZeltoUser& user) override {
            Recorder::device(d, user);
            throw std::runtime_error("user handler failed");
        }
    };
    SimProcess sim("127.0.0.2", {"--users", "3"});
    auto throwing = std::make_shared<Throwing>();
    recorder = throwing;
    auto device = makeDevice("127.0.0.2");
    connect(device);
    EXPECT_TRUE(recorder->waitFor("user", 3));
    EXPECT_TRUE(recorder->waitFor("online"));
    device->disconnect();
    EXPECT_TRUE(recorder->waitFor("disconnect"));
}

TEST_F(DeviceSession, DroppingTheDeviceEndsItsSessionQuietly) {
    struct Watcher : ZeltoDeviceDelegate {
        std::atomic<int> toDyingDevice{0};
        void deviceDidDisconnect(ZeltoDevice& device, std::exception_ptr) override {
            if (!device.weak_from_this().lock()) ++toDyingDevice;
        }
    };
    SimProcess sim("127.0.0.2");
    IoPool pool(2);
    auto watcher = std::make_shared<Watcher>();
    ZeltoTimings timings;
    timings.pingInterval = 60s;
    auto device = ZeltoDevice::make(pool.context(), {"127.0.0.2", 9110}, 9112, std::nullopt, timings);
    device->setDelegate(watcher);
    blockOn(pool.executor(), device->connect(3 * kSecond));
    device.reset();
    EXPECT_TRUE(pool.drain(3s)) << "a timer or socket of the dropped session is still armed";
    EXPECT_EQ(watcher->toDyingDevice, 0) << "a delegate call with a device being destroyed";
}

TEST_F(DeviceSession, EndingTheSessionEndsItsWaitsAtOnce) {
    SimProcess sim("127.0.0.2");
    auto device = makeDevice("127.0.0.2");
    connect(device);
    auto fetch = waiting(device->transferPreset("Nowhere", 30 * kSecond));
    sim.pause();
    auto list = waiting(device->requestPresetList(30 * kSecond));
    auto started = std::chrono::steady_clock::now();
    device->disconnect();
    ASSERT_TRUE(readyWithin(fetch, 5s));
    ASSERT_TRUE(readyWithin(list, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(deviceErrorOf(fetch), ZeltoDeviceError::Case::sessionEnded);
    EXPECT_EQ(deviceErrorOf(list), ZeltoDeviceError::Case::sessionEnded);
    // Without a session nothing can arrive: no wait for the time-out.
    auto later = waiting(device->transferPreset("Show", 30 * kSecond));
    ASSERT_TRUE(readyWithin(later, 5s));
    EXPECT_EQ(deviceErrorOf(later), ZeltoDeviceError::Case::deviceIsOffline);
    auto unanswered = makeDevice("127.0.0.9", 9113);
    auto connecting = waiting(unanswered->connect(30 * kSecond));
    unanswered->disconnect();
    ASSERT_TRUE(readyWithin(connecting, 5s));
    EXPECT_EQ(deviceErrorOf(connecting), ZeltoDeviceError::Case::sessionEnded);
    sim.resume();
}

TEST_F(DeviceSession, ACancelledListEndsWithinATenthOfASecond) {
    SimProcess sim("127.0.0.2");
    auto device = makeDevice("127.0.0.2");
    connect(device);
    sim.pause();
    auto strand = asio::make_strand(runner.io);
    asio::cancellation_signal signal;
    auto list = asio::co_spawn(strand, discard(device->requestPresetList(30 * kSecond)),
                               asio::bind_cancellation_slot(signal.slot(), asio::use_future));
    std::promise<std::chrono::steady_clock::time_point> emitted;
    // Emitted on the coroutine's strand, once it waits.
    asio::post(strand, [&] {
        emitted.set_value(std::chrono::steady_clock::now());
        signal.emit(asio::cancellation_type::terminal);
    });
    ASSERT_TRUE(readyWithin(list, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - emitted.get_future().get(), 100ms);
    EXPECT_EQ(deviceErrorOf(list), ZeltoDeviceError::Case::cancelled);
    sim.resume();
    EXPECT_EQ(runner.run(device->requestPresetList(kSecond)).size(), 2u) << "the session goes on";
}

// Faults the simulator produces on demand, seen through a session.

TEST_F(DeviceSession, IgnoredListRequestsTimeOutAndTheNextIsAnswered) {
    SimProcess sim("127.0.0.2", test::SimFaults{.ignoreListRequests = 2}.arguments());
    auto device = makeDevice("127.0.0.2");
    connect(device);
    for (int ignored = 1; ignored <= 2; ++ignored) {
        EXPECT_THROW(runner.run(device->requestPresetList(kSecond / 5)), OSCConnectionError);
        EXPECT_TRUE(sim.waitForLine("ignored preset list request " + std::to_string(ignored)));
    }
    EXPECT_EQ(runner.run(device->requestPresetList(kSecond)).size(), 2u);
    ASSERT_TRUE(sim.waitForLine("sent preset list"));
    EXPECT_EQ(sim.countLines("sent preset list"), 1);
}

TEST_F(DeviceSession, ADelayedListLeavesTheMixerServingItsSessionMeanwhile) {
    SimProcess sim("127.0.0.2", test::SimFaults{.listDelay = 1s}.arguments());
    auto device = makeDevice("127.0.0.2");
    connect(device);
    auto started = std::chrono::steady_clock::now();
    auto list = runner.spawn(device->requestPresetList(5 * kSecond));
    ASSERT_TRUE(sim.waitForLine("RequestListOfPresets"));
    device->identify();
    ASSERT_TRUE(readyWithin(list));
    EXPECT_EQ(list.get().size(), 2u);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
    // The blink, asked once the list was, was handled while the answer waited.
    auto lines = sim.lines();
    auto blink = std::find_if(lines.begin(), lines.end(), [](auto& l) { return l == "display blinks"; });
    auto answer =
        std::find_if(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("sent preset list"); });
    EXPECT_LT(blink, answer) << testing::PrintToString(lines);
}

TEST_F(DeviceSession, DroppedPresetsAreNeitherStoredNorConfirmedAndLaterOnesAre) {
    SimProcess sim("127.0.0.2", test::SimFaults{.dropPresets = 1}.arguments());
    auto device = makeDevice("127.0.0.2");
    connect(device);
    RemoteZeltoPreset lost("Lost"), kept("Kept");
    lost.bytes = presetBytes("Lost", 3000);
    kept.bytes = presetBytes("Kept", 3000);
    ASSERT_TRUE(device->sendPreset(lost, false));
    ASSERT_TRUE(sim.waitForLine("discarded preset Lost"));
    ASSERT_TRUE(device->sendPreset(kept, false));
    ASSERT_TRUE(sim.waitForLine("stored preset Kept"));
    ASSERT_TRUE(recorder->waitFor("confirmation5"));
    EXPECT_EQ(recorder->count("confirmation5"), 1);
    EXPECT_FALSE(std::filesystem::exists(sim.presets() / "Lost.ZELTOshow"));
    EXPECT_TRUE(std::filesystem::exists(sim.presets() / "Kept.ZELTOshow"));
}

// The lines the simulator printed after `from` and before `to` (or its last).
std::vector<std::string> linesBetween(const std::vector<std::string>& lines, const std::string& from,
                                      const std::string& to = {}) {
    auto begin = std::find(lines.begin(), lines.end(), from);
    if (begin == lines.end()) return {};
    auto end = to.empty() ? lines.end() : std::find(begin, lines.end(), to);
    return {begin + 1, end};
}

TEST_F(DeviceSession, AMixerSwitchedOffEndsTheSessionAndAnswersNothingMore) {
    SimProcess sim("127.0.0.2", test::SimFaults{.offlineAfter = 200ms}.arguments());
    auto device = makeDevice("127.0.0.2", 9112, fastTimings());
    connect(device);
    ASSERT_TRUE(recorder->waitFor("disconnect"));
    EXPECT_EQ(recorder->details("disconnect"), std::vector<std::string>{""});
    ASSERT_TRUE(sim.waitForLine("switched off"));
    EXPECT_THROW(connect(device, kSecond / 4), OSCServerError);
    auto after = linesBetween(sim.lines(), "switched off");
    EXPECT_TRUE(after.empty()) << "acted on while off: " << testing::PrintToString(after);
}

TEST_F(DeviceSession, AMixerSwitchedBackOnIsFoundAndTakesANewSession) {
    SimProcess sim("127.0.0.2", test::SimFaults{.offlineAfter = 200ms, .offlineFor = 1s}.arguments());
    auto device = makeDevice("127.0.0.2", 9112, fastTimings());
    connect(device);
    ASSERT_TRUE(sim.waitForLine("switched on"));
    // The session pinged on while the mixer was off: none of it was heard.
    auto whileOff = linesBetween(sim.lines(), "switched off", "switched on");
    EXPECT_TRUE(whileOff.empty()) << testing::PrintToString(whileOff);
    device->disconnect();
    auto seen = std::make_shared<std::promise<std::string>>();
    ZeltoDiscoverer discoverer(runner.io, asio::make_strand(runner.io),
                               [seen](const OSCEndpoint&, const std::string& uid) {
                                   try {
                                       seen->set_value(uid);
                                   } catch (const std::future_error&) {  // a later pass
                                   }
                               });
    discoverer.setUnicastHosts({"127.0.0.2"});
    discoverer.start(kSecond);
    discoverer.discover();
    auto found = seen->get_future();
    ASSERT_TRUE(readyWithin(found));
    EXPECT_EQ(found.get(), "sim-0001");
    discoverer.stop();
    connect(device);
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

TEST_F(Discovery, UnicastHostsAreReportedOncePerPassEvenToAThrowingHandler) {
    SimProcess a("127.0.0.2", {"--uid", "uid-a", "--users", "3"});
    SimProcess b("127.0.0.3", {"--uid", "uid-b", "--users", "1", "--userinfo-args", "19"});
    auto seen = std::make_shared<Seen>();
    ZeltoDiscoverer discoverer(
        runner.io, asio::make_strand(runner.io),
        [record = recordInto(seen)](const OSCEndpoint& endpoint, const std::string& uid) {
            record(endpoint, uid);
            throw std::runtime_error("handler failed");
        });
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

TEST_F(Discovery, StopWinsOverAPassAlreadyDue) {
    SimProcess a("127.0.0.2", {"--uid", "uid-a"});
    auto seen = std::make_shared<Seen>();
    auto queue = asio::make_strand(runner.io);
    auto timings = fastTimings();
    timings.discoveryInterval = 50ms;
    ZeltoDiscoverer discoverer(runner.io, queue, recordInto(seen), timings);
    discoverer.setUnicastHosts({"127.0.0.2"});
    discoverer.start(kSecond);
    // Holds the queue until the pass timer (armed before this runs) has fired
    // and queued its completion behind us, then stops.
    asio::steady_timer later(runner.io);
    std::promise<void> fired, stopped;
    asio::post(queue, [&] {
        later.expires_after(timings.discoveryInterval + 10ms);
        later.async_wait([&](std::error_code) { fired.set_value(); });
        fired.get_future().wait_for(10s);
        discoverer.stop();
        stopped.set_value();
    });
    stopped.get_future().wait();
    EXPECT_FALSE(a.waitForLine("ConnectRequest", 500ms)) << "a pass ran after stop";
    std::lock_guard lock(seen->mutex);
    EXPECT_TRUE(seen->reports.empty());
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
