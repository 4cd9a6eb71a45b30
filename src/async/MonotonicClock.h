#pragma once

#include <chrono>
#include <cstdint>

namespace zelto {

// Nanoseconds since an arbitrary start, from the steady clock: the time base
// of every receive time and every read's start time.
inline std::uint64_t monotonicNanoseconds() noexcept {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace zelto
