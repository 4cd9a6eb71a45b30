#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zelto::test {

// Bytes of a literal written with "sv" so embedded NULs count.
inline std::vector<std::uint8_t> bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace zelto::test
