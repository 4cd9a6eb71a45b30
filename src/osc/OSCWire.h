#pragma once

// Byte-order and padding helpers shared by the codec's sources (not installed API).

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zelto::wire {

inline std::uint32_t loadU32(const std::uint8_t* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

inline std::uint64_t loadU64(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

inline void storeU32(std::uint8_t* p, std::uint32_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline void storeU64(std::uint8_t* p, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

// Rounds up to a multiple of 4.
constexpr std::size_t padded(std::size_t n) noexcept { return (n + 3) & ~std::size_t{3}; }

// Size of a NUL-terminated, padded text of `length` characters: at least one NUL.
constexpr std::size_t paddedText(std::size_t length) noexcept { return (length / 4 + 1) * 4; }

// Writes `text`, then NUL bytes up to paddedText(text.size()); returns the bytes written.
inline std::size_t writeText(std::uint8_t* out, const std::uint8_t* text, std::size_t length) noexcept {
    std::size_t total = paddedText(length);
    // Clearing the last word first leaves the padding zero after the copy.
    std::memset(out + total - 4, 0, 4);
    if (length) std::memcpy(out, text, length);
    return total;
}

inline constexpr std::uint8_t bundlePrefix[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};

bool isValidUTF8(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace zelto::wire
