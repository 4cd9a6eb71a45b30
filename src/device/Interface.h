#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelto {

// One entry of the host's interface address list; an interface with several
// addresses appears once per address.
struct Interface {
    enum class Family { ipv4, ipv6, other };

    std::string name;
    Family family = Family::other;
    std::optional<std::string> address;
    std::optional<std::string> netmask;
    std::optional<std::string> broadcastAddress;
    bool running = false;
    bool up = false;
    bool loopback = false;
    bool multicastSupported = false;

    bool isRunning() const { return running; }
    bool isUp() const { return up; }
    bool isLoopback() const { return loopback; }
    bool supportsMulticast() const { return multicastSupported; }

    // The current list, in the operating system's order; empty when it cannot be read.
    static std::vector<Interface> allInterfaces();
};

}  // namespace zelto
