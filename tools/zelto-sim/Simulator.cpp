#include "Simulator.h"

#include <sys/socket.h>

#include <asio/ip/address_v4.hpp>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "device/Interface.h"
#include "device/IsoDate.h"
#include "preset/Gzip.h"
#include "preset/ZeltoPreset.h"

namespace zelto::sim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".ZELTOshow";
constexpr std::size_t kSegmentSize = 1000;
constexpr const char* kBuiltIn[] = {"default (PRESET)", "defaultOFF (PRESET)"};

// Lines are flushed once the socket has nothing more waiting, so a burst of
// segments costs one write, not a thousand.
void logLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

bool isBuiltIn(const std::string& name) {
    return name == kBuiltIn[0] || name == kBuiltIn[1];
}

// 2021-05-01T10:00:00.000Z
std::string isoDate(fs::file_time_type modified) {
    using namespace std::chrono;
    auto ms = floor<milliseconds>(file_clock::to_sys(modified)).time_since_epoch().count();
    auto seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms - static_cast<std::int64_t>(seconds) * 1000));
    return text;
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool writeFileAtomically(const fs::path& path, std::span<const std::uint8_t> bytes) {
    fs::path temp = path;
    temp += ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    return !ec;
}

// Why the bytes are neither a compressed nor a plain preset; empty when they are one.
std::string unreadableBecause(std::span<const std::uint8_t> bytes) {
    std::string why;
    try {
        ZeltoPreset::fromCompressedData(bytes);
        return {};
    } catch (const std::exception& e) {
        why = std::string("compressed: ") + e.what();
    }
    try {
        ZeltoPreset::fromData(bytes);
        return {};
    } catch (const std::exception& e) {
        why += std::string(", plain: ") + e.what();
    }
    return why;
}

// A preset arrives as a burst of up to a thousand datagrams: room for all of them.
void enlargeReceiveBuffer(asio::ip::udp::socket& socket) {
    int size = 8 << 20;
    std::error_code ec;
    socket.set_option(asio::socket_base::receive_buffer_size(size), ec);
    asio::socket_base::receive_buffer_size granted;
    socket.get_option(granted, ec);
    if (granted.value() < size)
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
}

}  // namespace

Simulator::Simulator(asio::io_context& io, Options options)
    : io_(io),
      options_(std::move(options)),
      socket_(io),
      buffer_(65536),
      broadcastBuffer_(65536),
      pingTimer_(io),
      powerTimer_(io),
      random_(options_.seed) {}

void Simulator::start() {
    ensureBuiltInPresets();
    auto address = asio::ip::make_address_v4(options_.address);
    socket_.open(asio::ip::udp::v4());
    socket_.set_option(asio::socket_base::reuse_address(true));
    socket_.set_option(asio::socket_base::broadcast(true));
    socket_.bind({address, options_.port});
    enlargeReceiveBuffer(socket_);
    if (!address.is_unspecified()) {
        // Bound to one address, the socket misses broadcasts: listen on the
        // interface's broadcast address too.
        for (const auto& entry : Interface::allInterfaces()) {
            if (entry.address != options_.address || !entry.broadcastAddress) continue;
            broadcastSocket_.emplace(io_);
            broadcastSocket_->open(asio::ip::udp::v4());
            broadcastSocket_->set_option(asio::socket_base::reuse_address(true));
            broadcastSocket_->bind({asio::ip::make_address_v4(*entry.broadcastAddress), options_.port});
            enlargeReceiveBuffer(*broadcastSocket_);
            receive(*broadcastSocket_, broadcastBuffer_, broadcastSender_);
            break;
        }
    }
    receive(socket_, buffer_, sender_);
    schedulePings();
    logLine("zelto-sim listening on " + options_.address + ":" + std::to_string(options_.port));
    std::fflush(stdout);
}

void Simulator::receive(asio::ip::udp::socket& socket, std::vector<std::uint8_t>& buffer, Endpoint& sender) {
    socket.async_receive_from(asio::buffer(buffer), sender,
                              [this, &socket, &buffer, &sender](std::error_code ec, std::size_t size) {
                                  if (ec == asio::error::operation_aborted) return;
                                  if (!ec && !off_ && !lose()) {
                                      try {
                                          handleDatagram({buffer.data(), size}, sender);
                                      } catch (const std::exception& e) {
                                          logLine(std::string("dropped datagram: ") + e.what());
                                      }
                                  }
                                  std::error_code availableError;
                                  if (socket.available(availableError) == 0) std::fflush(stdout);
                                  receive(socket, buffer, sender);
                              });
}

// A message off the protocol is not acted on: a real mixer would ignore it,
// and the tests fail on every such line.
void Simulator::handleDatagram(std::span<const std::uint8_t> data, const Endpoint& sender) {
    auto datagram = readDatagram(data);
    if (!datagram.refusal.empty()) {
        logLine("protocol error: " + datagram.refusal + ": " + datagram.subject);
        return;
    }
    for (const auto& message : datagram.messages) {
        if (auto why = refusal(message, sender); !why.empty()) {
            logLine("protocol error: " + why + ": " + message.description());
            continue;
        }
        handleMessage(message, sender);
    }
}

std::string Simulator::refusal(const WireMessage& message, const Endpoint& sender) const {
    if (message.address == "/Zo/Ping" && options_.loss <= 0) {
        // With loss, the ConnectRequest that announced another port may be one of the lost.
        auto session = sessions_.find(sender.address());
        if (session != sessions_.end() && session->second != message.integer(0))
            return "ping port " + std::to_string(message.integer(0)) + ", not the session's " +
                   std::to_string(session->second);
    }
    if (message.address == "/ZELTOorvel/control/SwitchUser" &&
        (message.integer(0) < 1 || message.integer(0) > options_.users))
        return "no user " + std::to_string(message.integer(0));
    return {};
}

void Simulator::handleMessage(const WireMessage& message, const Endpoint& sender) {
    logLine("received " + message.description());
    const std::string& address = message.address;
    if (address == "/ZELTOorvel/control/ConnectRequest") {
        connectRequest(message, sender);
    } else if (address == "/Zo/Ping") {
        if (silent()) return;
        send(OSCMessage(*OSCAddress::make("/Za/Ping")),
             Endpoint(sender.address(), static_cast<std::uint16_t>(message.integer(0))));
    } else if (address == "/ZELTOorvel/control/RequestListOfPresets") {
        answerListRequest(replyEndpoint(sender));
    } else if (address == "/ZELTOorvel/control/presetCopyToUSB") {
        copyPresetOut(message.text(0), replyEndpoint(sender));
    } else if (address == "/ZELTOorvel/control/presetSeg") {
        takeSegment(message, replyEndpoint(sender));
    } else if (address == "/ZELTOorvel/control/presetSelect") {
        selectPreset(message.text(0), replyEndpoint(sender));
    } else if (address == "/ZELTOorvel/control/presetDelete") {
        deletePreset(message.text(1));
    } else if (address == "/ZELTOorvel/Hardware/DisplayBlink") {
        logLine("display blinks");
    } else if (address == "/ZELTOorvel/control/SwitchUser") {
        logLine("switched to user " + std::to_string(message.integer(0)));
    }
}

void Simulator::connectRequest(const WireMessage& message, const Endpoint& sender) {
    Endpoint to(sender.address(), static_cast<std::uint16_t>(message.integer(0)));
    if (message.text(2) == "qv42") {
        if (!firstSession_) {
            firstSession_ = std::chrono::steady_clock::now();
            scheduleSwitchOff();
        }
        sessions_[sender.address()] = to.port();
    }
    for (int user = 1; user <= options_.users; ++user) {
        std::vector<OSCValue> values = {
            OSCValue("Mix " + std::to_string(user)),  // 0 user name
            OSCValue("icon" + std::to_string(user)),  // 1 user icon
            OSCValue(std::int32_t(user)),             // 2 user number
            OSCValue(std::int32_t(0)),                // 3
            OSCValue(options_.serial),                // 4 serial number
            OSCValue("unused"),                       // 5
            OSCValue(std::int32_t(0)),                // 6
            OSCValue(options_.type),                  // 7 type
            OSCValue(options_.version),               // 8 version
            OSCValue(""),                             // 9
            OSCValue(std::int32_t(0)),                // 10
            OSCValue(options_.name),                  // 11 device name
            OSCValue(std::int32_t(32)),               // 12 inputs
            OSCValue(std::int32_t(16)),               // 13 outputs
            OSCValue(std::int32_t(0)),                // 14
            OSCValue(std::int32_t(user % 2)),         // 15 hide mix
            OSCValue("0000"),                         // 16 phase invert
        };
        if (options_.userInfoArgs == 19) values.emplace_back("not the uid");
        values.emplace_back(options_.uid);
        while (values.size() < static_cast<std::size_t>(options_.userInfoArgs)) values.emplace_back("extra");
        send(OSCMessage(*OSCAddress::make("/ZELTOapp/control/UserInfo"), values), to);
    }
}

void Simulator::answerListRequest(const Endpoint& to) {
    if (listRequestsIgnored_ < options_.ignoreListRequests) {
        ++listRequestsIgnored_;
        logLine("ignored preset list request " + std::to_string(listRequestsIgnored_));
        return;
    }
    if (options_.listDelay <= std::chrono::milliseconds::zero()) {
        sendPresetList(to);
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(io_, options_.listDelay);
    timer->async_wait([this, timer, to, boot = boot_](std::error_code ec) {
        if (ec || off_ || boot != boot_) return;
        sendPresetList(to);
        std::fflush(stdout);
    });
}

void Simulator::sendPresetList(const Endpoint& to) {
    std::vector<std::pair<std::string, fs::file_time_type>> presets;
    for (const auto& entry : fs::directory_iterator(options_.presets)) {
        if (!entry.is_regular_file() || entry.path().extension() != kSuffix) continue;
        presets.emplace_back(entry.path().stem().string(), entry.last_write_time());
    }
    std::sort(presets.begin(), presets.end());
    std::vector<OSCValue> values;
    for (const auto& [name, modified] : presets) {
        values.emplace_back(name + " *[" + isoDate(modified) + "]");
    }
    values.emplace_back(std::int32_t(presets.size()));
    OSCBundle bundle;
    bundle.add(OSCMessage(*OSCAddress::make("/ZELTOapp/control/PresetList"), values));
    send(bundle, to);
    logLine("sent preset list of " + std::to_string(presets.size()));
}

void Simulator::copyPresetOut(const std::string& name, const Endpoint& to) {
    if (presetRequestsIgnored_ < options_.ignorePresetRequests) {
        ++presetRequestsIgnored_;
        logLine("ignored preset request " + std::to_string(presetRequestsIgnored_));
        return;
    }
    auto path = presetPath(name);
    if (!path || !fs::is_regular_file(*path)) {
        logLine("no preset " + name);
        return;
    }
    auto bytes = readFile(*path);
    if (options_.presetLevel) {
        // Stored compressed: inflated first, so the document goes out once compressed.
        const bool compressed = bytes.size() >= 2 && (bytes[0] & 0x0F) == 8 && ((bytes[0] << 8) | bytes[1]) % 31 == 0;
        try {
            if (compressed) bytes = gzip::decompress(bytes);
        } catch (const std::exception&) {
            // Not a zlib stream after all: sent compressed as it is.
        }
        bytes = gzip::compress(bytes, *options_.presetLevel, 15);
    }
    std::string sentName = name;
    if (options_.datedSegments)
        sentName += " *[" + formatIsoDate(std::chrono::file_clock::to_sys(fs::last_write_time(*path))) + "]";
    std::int32_t total = static_cast<std::int32_t>((bytes.size() + kSegmentSize - 1) / kSegmentSize);
    auto address = *OSCAddress::make("/ZELTOapp/control/PresetSeg");
    for (std::int32_t index = 0; index < std::max(total, 1); ++index) {
        std::size_t begin = std::min(bytes.size(), static_cast<std::size_t>(index) * kSegmentSize);
        std::size_t end = std::min(bytes.size(), begin + kSegmentSize);
        std::span<const std::uint8_t> part(bytes.data() + begin, end - begin);
        send(OSCMessage(address, {OSCValue(sentName + kSuffix), OSCValue::blob(part), OSCValue(index),
                                  OSCValue(total), OSCValue(options_.name), OSCValue(options_.uid)}),
             to);
    }
}

// The segments arrived checked: the name ends in the suffix, sizes and indices fit the total.
void Simulator::takeSegment(const WireMessage& message, const Endpoint& to) {
    const std::string& sentName = message.text(0);
    std::int32_t total = message.integer(3);
    auto& incoming = incoming_[sentName];
    if (incoming.total != total) incoming = Incoming{total, {}};  // a new send under that name
    incoming.parts.emplace(message.integer(2), message.blob(1));
    if (static_cast<std::int32_t>(incoming.parts.size()) < total) return;
    std::vector<std::uint8_t> bytes;
    for (const auto& [index, part] : incoming.parts) bytes.insert(bytes.end(), part.begin(), part.end());
    incoming_.erase(sentName);
    std::string name = sentName.substr(0, sentName.size() - std::string_view(kSuffix).size());
    std::string size = " (" + std::to_string(bytes.size()) + " bytes)";
    logLine("reassembled preset " + name + size);
    std::fflush(stdout);
    // As a mixer that lost one of the segments: nothing stored, nothing confirmed.
    if (presetsDropped_ < options_.dropPresets) {
        ++presetsDropped_;
        logLine("discarded preset " + name);
        return;
    }
    auto path = presetPath(name);
    if (!path) {
        logLine("rejected preset " + name + ": not a file name");
        return;
    }
    if (auto why = unreadableBecause(bytes); !why.empty()) {
        logLine("rejected preset " + name + ": " + why);
        return;
    }
    // As a mixer whose memory flipped a bit: stored, confirmed, and not what was sent.
    if (presetsCorrupted_ < options_.corruptPresets) {
        ++presetsCorrupted_;
        bytes[bytes.size() / 2] ^= 0x01;
        logLine("corrupted preset " + name);
    }
    if (!writeFileAtomically(*path, bytes)) {
        logLine("could not store preset " + name);
        return;
    }
    logLine("stored preset " + name + size);
    confirm("Preset " + name + " received", 5, to);
    if (message.truth(5)) selectPreset(name, to);
}

void Simulator::selectPreset(const std::string& name, const Endpoint& to) {
    auto path = presetPath(name);
    if (!path || !fs::is_regular_file(*path)) {
        logLine("no preset " + name);
        return;
    }
    current_ = name;
    logLine("current preset " + name);
    confirm("Preset " + name + " loaded", 1, to);
}

void Simulator::deletePreset(const std::string& name) {
    auto path = presetPath(name);
    if (!path || isBuiltIn(name)) {
        logLine("refused to delete " + name);
        return;
    }
    std::error_code ec;
    if (fs::remove(*path, ec)) logLine("deleted preset " + name);
}

void Simulator::send(const OSCObject& object, const Endpoint& to) {
    if (off_ || lose()) return;
    auto bytes = object.encode();
    if (options_.compress) bytes = gzip::compress(bytes, 9, 15);
    std::error_code ec;
    socket_.send_to(asio::buffer(bytes), to, 0, ec);
}

void Simulator::confirm(const std::string& text, std::int32_t code, const Endpoint& to) {
    send(OSCMessage(*OSCAddress::make("/ZELTOapp/confirmation"),
                    {OSCValue(text), OSCValue(code), OSCValue("qv")}),
         to);
}

Simulator::Endpoint Simulator::replyEndpoint(const Endpoint& sender) const {
    auto session = sessions_.find(sender.address());
    return session == sessions_.end() ? sender : Endpoint(sender.address(), session->second);
}

// Counted from the first session rather than from the start, so that a
// client which is slow to connect still sees the mixer alive at first.
bool Simulator::silent() const {
    if (!options_.silentAfter) return false;
    if (*options_.silentAfter <= 0) return true;
    if (!firstSession_) return false;
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - *firstSession_;
    return elapsed.count() >= *options_.silentAfter;
}

bool Simulator::lose() {
    if (options_.loss <= 0) return false;
    return std::uniform_real_distribution<double>(0, 100)(random_) < options_.loss;
}

void Simulator::schedulePings() {
    pingTimer_.expires_after(std::chrono::seconds(2));
    pingTimer_.async_wait([this](std::error_code ec) {
        if (ec) return;
        if (!silent()) {
            for (const auto& [host, port] : sessions_)
                send(OSCMessage(*OSCAddress::make("/Za/Ping")), {host, port});
        }
        schedulePings();
    });
}

void Simulator::scheduleSwitchOff() {
    if (!options_.offlineAfter) return;
    powerTimer_.expires_after(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(*options_.offlineAfter));
    powerTimer_.async_wait([this](std::error_code ec) {
        if (!ec) switchOff();
    });
}

// Switched off, the mixer loses what it held in memory; it reads and drops
// every datagram meanwhile, so nothing waits in the socket for its return.
void Simulator::switchOff() {
    off_ = true;
    ++boot_;
    sessions_.clear();
    incoming_.clear();
    logLine("switched off");
    std::fflush(stdout);
    if (!options_.offlineFor) return;
    powerTimer_.expires_after(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(*options_.offlineFor));
    powerTimer_.async_wait([this](std::error_code ec) {
        if (!ec) switchOn();
    });
}

void Simulator::switchOn() {
    off_ = false;
    logLine("switched on");
    std::fflush(stdout);
}

void Simulator::ensureBuiltInPresets() {
    fs::create_directories(options_.presets);
    for (const char* name : kBuiltIn) {
        auto path = *presetPath(name);
        if (fs::exists(path)) continue;
        ZeltoPreset preset = ZeltoPreset::defaultOff();
        preset.name = name;
        writeFileAtomically(path, preset.toCompressedData());
    }
}

std::optional<fs::path> Simulator::presetPath(const std::string& name) const {
    // Only plain file names: nothing a peer sends may reach outside the folder.
    if (name.empty() || name == "." || name == ".." || name.size() > 200 ||
        name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
        return std::nullopt;
    }
    return options_.presets / (name + kSuffix);
}

}  // namespace zelto::sim
