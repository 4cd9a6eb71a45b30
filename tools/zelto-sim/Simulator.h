#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "WireRules.h"
#include "osc/OSCBundle.h"

namespace zelto::sim {

struct Options {
    std::filesystem::path presets;
    std::string address = "0.0.0.0";
    std::uint16_t port = 9110;
    std::string name = "Zelto Sim";
    std::string serial = "SIM-0001";
    std::string uid = "sim-0001";
    std::string type = "ZELTO:orvel";
    std::string version = "1.0.0";
    int users = 2;
    int userInfoArgs = 18;
    bool compress = false;
    // Segment names carry the preset's date: "Show *[date].ZELTOshow".
    bool datedSegments = false;
    double loss = 0;
    unsigned seed = 1;
    std::optional<double> silentAfter;
    // Faults on demand.
    int ignoreListRequests = 0;  // the first N list requests go unanswered
    int ignorePresetRequests = 0;  // the first N preset requests go unanswered
    // Switched off this long after the first session began; back on after
    // offlineFor (absent: stays off).
    std::optional<std::chrono::duration<double>> offlineAfter, offlineFor;
    std::chrono::milliseconds listDelay{0};
    int dropPresets = 0;  // the first N presets received are discarded
    int corruptPresets = 0;  // the first N presets stored have one byte changed
    // Presets go out as a zlib stream at this level (0-9), whatever form they
    // are stored in; absent: sent as stored.
    std::optional<int> presetLevel;
};

// One simulated mixer on one UDP port.
class Simulator {
  public:
    Simulator(asio::io_context& io, Options options);
    // Binds, creates the built-in presets, starts receiving and pinging.
    void start();

  private:
    using Endpoint = asio::ip::udp::endpoint;

    void receive(asio::ip::udp::socket& socket, std::vector<std::uint8_t>& buffer, Endpoint& sender);
    void handleDatagram(std::span<const std::uint8_t> data, const Endpoint& sender);
    // Why this mixer refuses a well-formed message in its present state, or nothing.
    std::string refusal(const WireMessage& message, const Endpoint& sender) const;
    void handleMessage(const WireMessage& message, const Endpoint& sender);

    void connectRequest(const WireMessage& message, const Endpoint& sender);
    void answerListRequest(const Endpoint& to);
    void sendPresetList(const Endpoint& to);
    void copyPresetOut(const std::string& name, const Endpoint& to);
    void takeSegment(const WireMessage& message, const Endpoint& to);
    void selectPreset(const std::string& name, const Endpoint& to);
    void deletePreset(const std::string& name);

    void send(const OSCObject& object, const Endpoint& to);
    void confirm(const std::string& text, std::int32_t code, const Endpoint& to);
    Endpoint replyEndpoint(const Endpoint& sender) const;
    bool silent() const;
    bool lose();
    void schedulePings();
    void scheduleSwitchOff();
    void switchOff();
    void switchOn();
    void ensureBuiltInPresets();
    std::optional<std::filesystem::path> presetPath(const std::string& name) const;

    asio::io_context& io_;
    Options options_;
    asio::ip::udp::socket socket_;
    std::optional<asio::ip::udp::socket> broadcastSocket_;
    std::vector<std::uint8_t> buffer_, broadcastBuffer_;
    Endpoint sender_, broadcastSender_;
    asio::steady_timer pingTimer_;
    asio::steady_timer powerTimer_;
    bool off_ = false;
    // Counts switch-offs: a delayed answer from before one is never sent.
    int boot_ = 0;
    int listRequestsIgnored_ = 0;
    int presetRequestsIgnored_ = 0;
    int presetsDropped_ = 0;
    int presetsCorrupted_ = 0;
    std::optional<std::chrono::steady_clock::time_point> firstSession_;
    std::mt19937 random_;
    // Requesting host -> the port its session listens on.
    std::map<asio::ip::address, std::uint16_t> sessions_;
    struct Incoming {
        std::int32_t total = 0;
        std::map<std::int32_t, std::vector<std::uint8_t>> parts;
    };
    // Segment name as sent -> the parts received so far.
    std::map<std::string, Incoming> incoming_;
    std::string current_;
};

}  // namespace zelto::sim
