#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zelto {

// Every protocol timing in one place. The defaults are the protocol's values;
// tests shrink them to keep runs short.
struct ZeltoTimings {
    std::chrono::nanoseconds discoveryInterval = std::chrono::seconds(30);
    std::chrono::nanoseconds pingInterval = std::chrono::seconds(5);
    // A device counts as online while its last sign of life is at most this old.
    std::chrono::nanoseconds onlineWindow = std::chrono::seconds(10);
    // Send time-out handed to the client for every message (nanoseconds).
    std::uint64_t sendTimeout = 1'000'000'000;
    // Incomplete presets that received nothing for this long are dropped.
    std::chrono::nanoseconds segmentStaleAfter = std::chrono::seconds(60);

    static ZeltoTimings protocol() { return {}; }
    // All intervals divided by `factor` (send time-out left alone).
    ZeltoTimings scaledDown(std::int64_t factor) const {
        ZeltoTimings t = *this;
        t.discoveryInterval /= factor;
        t.pingInterval /= factor;
        t.onlineWindow /= factor;
        t.segmentStaleAfter /= factor;
        return t;
    }
};

}  // namespace zelto
