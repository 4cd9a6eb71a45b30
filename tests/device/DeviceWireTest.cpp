// What a session and the discoverer put on the wire, byte for byte, against
// datagrams written out from the protocol's tables: a mixer that receives
// anything else may ignore it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/strand.hpp>
#include <functional>
#include <string_view>

#include "device/IoRunner.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCMessage.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSecond = 1'000'000'000;

Bytes bytes(std::initializer_list<std::string_view> fields) {
    Bytes out;
    for (auto field : fields) out.insert(out.end(), field.begin(), field.end());
    return out;
}

// Listens on port 9110 of one loopback address and keeps what arrives.
class RecordingMixer {
  public:
    explicit RecordingMixer(const char* address) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(9110);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
    }
    ~RecordingMixer() { ::close(fd_); }

    // The next datagram with the address of `like` (others are skipped); empty after 5 s.
    Bytes next(const Bytes& like) {
        std::string_view address(reinterpret_cast<const char*>(like.data()), like.size());
        address = address.substr(0, address.find('\0') + 1);
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            Bytes datagram(65536);
            ssize_t n = ::recv(fd_, datagram.data(), datagram.size(), 0);
            if (n < 0) continue;
            datagram.resize(static_cast<std::size_t>(n));
            if (std::string_view(reinterpret_cast<const char*>(datagram.data()), datagram.size())
                    .starts_with(address))
                return datagram;
        }
        return {};
    }

    void sendTo(std::uint16_t port, const Bytes& datagram) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

  private:
    int fd_;
};

OSCMessage userInfo() {
    return *OSCMessage::make(
        "/ZELTOapp/control/UserInfo",
        {OSCValue("Mix 1"), OSCValue("icon"), OSCValue(1), OSCValue(0), OSCValue("SN"), OSCValue(""),
         OSCValue(0), OSCValue("ZELTO:orvel"), OSCValue("1.0"), OSCValue(""), OSCValue(0), OSCValue("Wire"),
         OSCValue(32), OSCValue(16), OSCValue(0), OSCValue(0), OSCValue("0000"), OSCValue("uid-w")});
}

TEST(DeviceWire, SessionMessagesAreTheProtocolsDatagrams) {
    RecordingMixer mixer("127.0.0.5");
    test::IoRunner runner;
    ZeltoTimings timings;
    timings.pingInterval = 50ms;
    auto device = ZeltoDevice::make(runner.io, {"127.0.0.5", 9110}, 9112, std::nullopt, timings);
    auto connecting = runner.spawn(device->connect(5 * kSecond));

    // listen port 9112, 50414, client tag
    const Bytes connectRequest = bytes({"/ZELTOorvel/control/ConnectRequest\0\0"sv, ",iis\0\0\0\0"sv,
                                        "\0\0\x23\x98"sv, "\0\0\xC4\xEE"sv, "qv42\0\0\0\0"sv});
    EXPECT_EQ(mixer.next(connectRequest), connectRequest);
    mixer.sendTo(9112, userInfo().encode());
    ASSERT_EQ(connecting.wait_for(10s), std::future_status::ready);
    connecting.get();

    const Bytes afterConnect[] = {
        bytes({"/ZELTOorvel/control/SwitchUser\0\0"sv, ",iss\0\0\0\0"sv, "\0\0\0\1"sv, "\0\0\0\0"sv,
               "qv42\0\0\0\0"sv}),
        bytes({"/Zo/Ping\0\0\0\0"sv, ",is\0"sv, "\0\0\x23\x98"sv, "qv42\0\0\0\0"sv}),
    };
    for (const auto& expected : afterConnect) EXPECT_EQ(mixer.next(expected), expected);

    const std::pair<std::function<void()>, Bytes> commands[] = {
        {[&] { device->loadPreset(RemoteZeltoPreset("Show *[2021-05-01T10:00:00.000Z]")); },
         bytes(
             {"/ZELTOorvel/control/presetSelect\0\0\0\0"sv, ",ss\0"sv, "Show\0\0\0\0"sv, "qv42\0\0\0\0"sv})},
        {[&] { device->deletePreset(RemoteZeltoPreset("Show *[2021-05-01T10:00:00.000Z]")); },
         bytes({"/ZELTOorvel/control/presetDelete\0\0\0\0"sv, ",Tss\0\0\0\0"sv, "Show\0\0\0\0"sv,
                "qv42\0\0\0\0"sv})},
        {[&] { device->identify(); },
         bytes({"/ZELTOorvel/Hardware/DisplayBlink\0\0\0"sv, ",s\0\0"sv, "qv42\0\0\0\0"sv})},
        {[&] { EXPECT_TRUE(device->switchUser(1)); },
         bytes({"/ZELTOorvel/control/SwitchUser\0\0"sv, ",iss\0\0\0\0"sv, "\0\0\0\1"sv, "\0\0\0\0"sv,
                "qv42\0\0\0\0"sv})},
        // A bundle to be executed immediately (time tag 1) holding the one 56-byte request.
        {[&] { EXPECT_THROW(runner.run(device->requestPresetList(1)), std::exception); },
         bytes({"#bundle\0"sv, "\0\0\0\0\0\0\0\1"sv, "\0\0\0\x38"sv,
                "/ZELTOorvel/control/RequestListOfPresets\0\0\0\0"sv, ",Ts\0"sv, "qv42\0\0\0\0"sv})},
        {[&] { EXPECT_THROW(runner.run(device->transferPreset("Show", 1)), PresetSegmentHandlerError); },
         bytes({"/ZELTOorvel/control/presetCopyToUSB\0"sv, ",ss\0"sv, "Show\0\0\0\0"sv, "qv42\0\0\0\0"sv})},
    };
    for (const auto& [command, expected] : commands) {
        command();
        EXPECT_EQ(mixer.next(expected), expected);
    }

    // 2,500 bytes: segments of 1000, 1000 and 500 bytes, indices 0 to 2 of 3;
    // the plain name with the file suffix, an empty text, the load flag.
    RemoteZeltoPreset preset("Golden *[2021-05-01T10:00:00.000Z]");
    preset.bytes = Bytes(2500);
    for (std::size_t i = 0; i < preset.bytes->size(); ++i)
        (*preset.bytes)[i] = static_cast<std::uint8_t>(i % 251);
    ASSERT_TRUE(device->sendPreset(preset, false));
    const std::string_view sizes[] = {"\0\0\x03\xE8"sv, "\0\0\x03\xE8"sv, "\0\0\x01\xF4"sv};
    const std::string_view indices[] = {"\0\0\0\0"sv, "\0\0\0\1"sv, "\0\0\0\2"sv};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Bytes expected = bytes({"/ZELTOorvel/control/presetSeg\0\0\0"sv, ",sbiisFs\0\0\0\0"sv,
                                "Golden.ZELTOshow\0\0\0\0"sv, sizes[i]});
        expected.insert(expected.end(), preset.bytes->begin() + static_cast<std::ptrdiff_t>(i * 1000),
                        preset.bytes->begin() +
                            static_cast<std::ptrdiff_t>(std::min<std::size_t>(2500, i * 1000 + 1000)));
        Bytes trailer = bytes({indices[i], "\0\0\0\3"sv, "\0\0\0\0"sv, "qv42\0\0\0\0"sv});
        expected.insert(expected.end(), trailer.begin(), trailer.end());
        EXPECT_EQ(mixer.next(expected), expected);
    }
    device->disconnect();
}

TEST(DeviceWire, DiscoveryRequestIsTheProtocolsDatagram) {
    RecordingMixer mixer("127.0.0.5");
    test::IoRunner runner;
    ZeltoDiscoverer discoverer(runner.io, asio::make_strand(runner.io));
    discoverer.setUnicastHosts({"127.0.0.5"});
    discoverer.start(kSecond);
    discoverer.discover();
    // answer port 9999, 50414, the discovery's client tag
    const Bytes expected = bytes({"/ZELTOorvel/control/ConnectRequest\0\0"sv, ",iis\0\0\0\0"sv,
                                  "\0\0\x27\x0F"sv, "\0\0\xC4\xEE"sv, "qv69\0\0\0\0"sv});
    EXPECT_EQ(mixer.next(expected), expected);
    discoverer.stop();
}

}  // namespace
}  // namespace zelto
