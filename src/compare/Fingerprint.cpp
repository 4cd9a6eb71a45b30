#include "compare/Fingerprint.h"

#include <xxhash.h>

#include <array>
#include <memory>

#include "preset/Gzip.h"

namespace zelto {

namespace {

struct StateDeleter {
    void operator()(XXH3_state_t* state) const noexcept { XXH3_freeState(state); }
};

Fingerprint fromHash(XXH128_hash_t hash) {
    return {hash.high64, hash.low64};
}

}  // namespace

std::string Fingerprint::hex() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[static_cast<std::size_t>(15 - i)] = digits[(high >> (4 * i)) & 0xF];
        text[static_cast<std::size_t>(31 - i)] = digits[(low >> (4 * i)) & 0xF];
    }
    return text;
}

std::optional<Fingerprint> Fingerprint::fromHex(std::string_view text) {
    if (text.size() != 32) return std::nullopt;
    Fingerprint f;
    for (std::size_t i = 0; i < 32; ++i) {
        const char c = text[i];
        std::uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint64_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint64_t>(c - 'a' + 10);
        else
            return std::nullopt;
        std::uint64_t& half = i < 16 ? f.high : f.low;
        half = (half << 4) | digit;
    }
    return f;
}

bool looksLikeZlib(std::span<const std::uint8_t> b) noexcept {
    return b.size() >= 2 && (b[0] & 0x0F) == 8 && (b[0] >> 4) <= 7 && ((b[0] << 8) | b[1]) % 31 == 0;
}

Fingerprint fingerprintOf(std::span<const std::uint8_t> bytes) {
    if (!looksLikeZlib(bytes)) return fromHash(XXH3_128bits(bytes.data(), bytes.size()));
    std::unique_ptr<XXH3_state_t, StateDeleter> state(XXH3_createState());
    if (!state) throw std::bad_alloc();
    XXH3_128bits_reset(state.get());
    // Small enough to stay in the cache between inflating and hashing.
    std::array<std::uint8_t, 32 * 1024> buffer;
    gzip::Inflater inflater(bytes, 0);
    std::size_t total = 0;
    while (!inflater.finished()) {
        const std::size_t n = inflater.inflateInto(buffer.data(), buffer.size());
        total += n;
        if (total > gzip::maxInflatedSize) throw GzipError::inflatedTooLarge(gzip::maxInflatedSize);
        XXH3_128bits_update(state.get(), buffer.data(), n);
    }
    return fromHash(XXH3_128bits_digest(state.get()));
}

}  // namespace zelto
