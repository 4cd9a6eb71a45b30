#pragma once

#include <cstdint>
#include <string>

namespace zelto {

// A UDP peer: host text (IPv4 or IPv6 address text, or a host name) and port.
struct OSCEndpoint {
    std::string host;
    std::uint16_t port = 0;

    friend bool operator==(const OSCEndpoint&, const OSCEndpoint&) = default;
    // "host:port"
    std::string description() const { return host + ":" + std::to_string(port); }
};

}  // namespace zelto
