#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/ZeltoTimings.h"
#include "osc/OSCEndpoint.h"

namespace zelto {

class OSCMessage;

// Finds mixers: every pass sends a ConnectRequest to the broadcast address of
// each usable IPv4 interface (and to each unicast host given), and reports each
// answering device once per pass.
class ZeltoDiscoverer {
  public:
    using NewDeviceHandler = std::function<void(const OSCEndpoint& sender, const std::string& uid)>;

    static constexpr std::uint16_t discoveryPort = 9999;
    static constexpr std::uint16_t devicePort = 9110;
    static constexpr const char* clientTag = "qv69";

    // `queue` runs reply processing and the handler; nothing starts yet.
    ZeltoDiscoverer(asio::io_context& io, asio::any_io_executor queue, NewDeviceHandler handler = {},
                    ZeltoTimings timings = {});
    ~ZeltoDiscoverer();
    ZeltoDiscoverer(const ZeltoDiscoverer&) = delete;
    ZeltoDiscoverer& operator=(const ZeltoDiscoverer&) = delete;

    // Opens the discovery server and schedules a pass every discovery interval.
    // Runs no pass itself. Throws the server's errors.
    void start(std::uint64_t timeout);
    // One pass, now; nothing after stop().
    void discover();
    // No pass runs and no handler call begins after it returns (until the next start).
    void stop();

    NewDeviceHandler newDeviceHandler() const;
    void setNewDeviceHandler(NewDeviceHandler handler);

    // Hosts that each pass also asks directly (devices behind a router, or
    // simulated devices on loopback addresses). Empty by default.
    std::vector<std::string> unicastHosts() const;
    void setUnicastHosts(std::vector<std::string> hosts);
    // Whether a pass broadcasts at all (on by default); without it only the
    // unicast hosts are asked.
    bool broadcast() const;
    void setBroadcast(bool enabled);

    // The port the server listens on and devices answer to (tests may change it before start).
    std::uint16_t listenPort() const { return listenPort_; }
    void setListenPort(std::uint16_t port) { listenPort_ = port; }

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::uint16_t listenPort_ = discoveryPort;
};

}  // namespace zelto
