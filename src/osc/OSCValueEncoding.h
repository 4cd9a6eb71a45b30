#pragma once

// The argument encoder, shared by value and message encoding (not installed API).

#include <bit>
#include <cstring>

#include "osc/OSCValue.h"
#include "osc/OSCWire.h"

namespace zelto {

inline std::size_t OSCValue::encodeUnchecked(std::uint8_t* out) const noexcept {
    switch (kind_) {
        case OSCValueKind::Int32:
        case OSCValueKind::Int:
            wire::storeU32(out, static_cast<std::uint32_t>(scalar_.i64));
            return 4;
        case OSCValueKind::Float:
            wire::storeU32(out, std::bit_cast<std::uint32_t>(scalar_.f32));
            return 4;
        case OSCValueKind::Int64:
            wire::storeU64(out, static_cast<std::uint64_t>(scalar_.i64));
            return 8;
        case OSCValueKind::UInt64:
            wire::storeU64(out, scalar_.u64);
            return 8;
        case OSCValueKind::Bool:
            return 0;
        case OSCValueKind::String:
            return wire::writeText(out, bytes_.data(), bytes_.size());
        case OSCValueKind::Data: {
            std::size_t n = bytes_.size();
            wire::storeU32(out, static_cast<std::uint32_t>(n));
            std::size_t total = 4 + wire::padded(n);
            if (n % 4) std::memset(out + total - 4, 0, 4);
            if (n) std::memcpy(out + 4, bytes_.data(), n);
            return total;
        }
    }
    return 0;
}

}  // namespace zelto
