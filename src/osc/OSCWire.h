#pragma once

// Byte-order and padding helpers shared by the codec's sources (not installed API).

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
constexpr std::size_t padded(std::size_t n) noexcept {
    return (n + 3) & ~std::size_t{3};
}

// Size of a NUL-terminated, padded text of `length` characters: at least one NUL.
constexpr std::size_t paddedText(std::size_t length) noexcept {
    return (length / 4 + 1) * 4;
}

// Writes `text`, then NUL bytes up to paddedText(text.size()); returns the bytes written.
inline std::size_t writeText(std::uint8_t* out, const std::uint8_t* text, std::size_t length) noexcept {
    std::size_t total = paddedText(length);
    // Clearing the last word first leaves the padding zero after the copy.
    std::memset(out + total - 4, 0, 4);
    if (length) std::memcpy(out, text, length);
    return total;
}

// Index of the first NUL byte in [p, p + n), or n when there is none.
// Eight bytes at a time: short texts are the common case and a library call
// costs more than the search.
inline std::size_t findNul(const std::uint8_t* p, std::size_t n) noexcept {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            // Exact for the lowest zero byte, the first in memory.
            std::uint64_t zero = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
            if (zero) return i + static_cast<std::size_t>(std::countr_zero(zero) >> 3);
        }
    }
    while (i < n && p[i] != 0) ++i;
    return i;
}

inline constexpr std::uint8_t bundlePrefix[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};

// Address character classes: 0 allowed in a part, 1 never allowed, 2 the
// separator "/". Allowed: printable ASCII except space # * , / ? [ ] { }.
inline constexpr auto addressClasses = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(1);
    for (int c = 33; c <= 126; ++c) table[static_cast<std::size_t>(c)] = 0;
    for (char c : {'#', '*', ',', '?', '[', ']', '{', '}'}) table[static_cast<unsigned char>(c)] = 1;
    table['/'] = 2;
    return table;
}();

// Starts with "/", no empty part, only allowed characters in the parts.
// Branch-free per character: addresses are short and slashes unpredictable.
inline bool isValidAddress(std::string_view text) noexcept {
    if (text.empty() || text.front() != '/') return false;
    unsigned bad = 0;
    unsigned previousSlash = 1;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const unsigned cls = addressClasses[static_cast<unsigned char>(text[i])];
        const unsigned slash = cls >> 1;
        bad |= (cls & 1) | (slash & previousSlash);
        previousSlash = slash;
    }
    return (bad | previousSlash) == 0;
}

bool isValidUTF8Slow(const std::uint8_t* data, std::size_t size) noexcept;

// A NUL-terminated text found in [p, p + n): its length (n when there is no
// NUL) and whether a byte before the NUL has its high bit set.
struct TextScan {
    std::size_t length;
    bool highBit;
};

// One pass finds the end and tells ASCII from text that needs the UTF-8 check.
inline TextScan scanText(const std::uint8_t* p, std::size_t n) noexcept {
    std::size_t i = 0;
    unsigned high = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const unsigned zero =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
        const unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (zero)
            return {i + static_cast<std::size_t>(std::countr_zero(zero)),
                    (high | (top & (zero - 1) & ~zero)) != 0};
        high |= top;
    }
#endif
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if constexpr (std::endian::native == std::endian::little) {
            // Exact for the lowest zero byte, the first in memory.
            const std::uint64_t zero = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
            if (zero) {
                const std::uint64_t before =
                    (zero - 1) & ~zero;  // the bytes before the NUL, and its low bits
                return {i + static_cast<std::size_t>(std::countr_zero(zero) >> 3),
                        (high | (word & before & 0x8080808080808080ull)) != 0};
            }
        } else {
            break;
        }
        high |= (word & 0x8080808080808080ull) != 0;
    }
    for (; i < n && p[i] != 0; ++i) high |= p[i] & 0x80;
    return {i, high != 0};
}

// A type tag string at [p, p + n): TextScan, and the index of the first
// character after the leading one that is not a supported tag (0 for none).
struct TagScan {
    std::size_t length;
    bool highBit;
    std::size_t firstUnknown;
};

inline TagScan scanTags(const std::uint8_t* p, std::size_t n,
                        const std::array<std::uint8_t, 256>& known) noexcept {
    const auto [length, highBit] = scanText(p, n);
    std::size_t unknown = 0;
    for (std::size_t i = length; i-- > 1;)
        if (!known[p[i]]) unknown = i;
    return {length, highBit, unknown};
}

// The address text at [p, p + n), up to its NUL (or all n bytes): its length,
// and in `valid` isValidAddress of it.
inline std::size_t scanAddress(const std::uint8_t* p, std::size_t n, bool& valid) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    // 16 bytes at a time: a slash mask, and a mask of bytes never allowed:
    // below 33 or above 126 (as signed bytes, 128 and up are negative), and
    // # * , ? [ ] { } (setting bit 5 folds [ ] onto { } and adds only
    // control characters to the others).
    unsigned bad = 0;
    unsigned carry = 0;  // the last byte of the chunk before was a slash
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i w = _mm_or_si128(v, _mm_set1_epi8(0x20));
        __m128i out =
            _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(33)), _mm_cmpgt_epi8(v, _mm_set1_epi8(126)));
        out = _mm_or_si128(
            out, _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('#')), _mm_cmpeq_epi8(w, _mm_set1_epi8('*'))));
        out = _mm_or_si128(
            out, _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8(',')), _mm_cmpeq_epi8(w, _mm_set1_epi8('?'))));
        out = _mm_or_si128(
            out, _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('{')), _mm_cmpeq_epi8(w, _mm_set1_epi8('}'))));
        const unsigned zero =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
        const unsigned limit = zero ? (zero - 1) & ~zero : 0xFFFFu;
        const unsigned slash =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('/')))) & limit;
        // Slashes are never bad; two in a row are.
        bad |= (static_cast<unsigned>(_mm_movemask_epi8(out)) & limit & ~slash) |
               (slash & ((slash << 1) | carry));
        if (zero) {
            const std::size_t length = i + static_cast<std::size_t>(std::countr_zero(zero));
            const bool lastSlash = length == i ? carry != 0 : ((slash >> (length - i - 1)) & 1) != 0;
            valid = length > 0 && p[0] == '/' && bad == 0 && !lastSlash;
            return length;
        }
        carry = slash >> 15;
    }
    if (i > 0) {
        // The rest, table-driven, from the state so far.
        const bool startOk = p[0] == '/' && bad == 0;
        unsigned badRest = 0;
        unsigned previousSlash = carry;
        for (; i < n && p[i] != 0; ++i) {
            const unsigned cls = addressClasses[p[i]];
            const unsigned isSlash = cls >> 1;
            badRest |= (cls & 1) | (isSlash & previousSlash);
            previousSlash = isSlash;
        }
        valid = startOk && (badRest | previousSlash) == 0;
        return i;
    }
#endif
    const std::size_t length = findNul(p, n);
    valid = isValidAddress(std::string_view(reinterpret_cast<const char*>(p), length));
    return length;
}

// ASCII, the usual case, is checked inline eight bytes at a time.
inline bool isValidUTF8(const std::uint8_t* p, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ull) return isValidUTF8Slow(p + i, n - i);
    }
    for (; i < n; ++i) {
        if (p[i] & 0x80) return isValidUTF8Slow(p + i, n - i);
    }
    return true;
}

// True when the `count` (0 to 4) bytes that end at `end` are all NUL;
// `end` - 4 must be readable.
inline bool zeroTail(const std::uint8_t* end, std::size_t count) noexcept {
    if (count == 0) return true;
    const std::uint32_t mask = count >= 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (count * 8)) - 1;
    return (loadU32(end - 4) & mask) == 0;
}

}  // namespace zelto::wire
