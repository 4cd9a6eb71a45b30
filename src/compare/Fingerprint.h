#pragma once

// The fingerprint of a preset's content: XXH3-128 of the decoded document,
// that is of the XML bytes, inflated first when the preset is a zlib stream.
// One document stored plain, stored compressed, or compressed at another
// level therefore has one fingerprint. Two documents that differ only in
// formatting (white space, attribute order) have two: the fingerprint says
// "these bytes decode to the same text", never more; the preset diff says
// how two documents differ in the model's terms.
//
// Threads: pure functions, callable from any thread.
// Errors: fingerprintOf throws GzipError for a zlib stream that does not
// inflate (damaged, truncated, or larger than gzip::maxInflatedSize).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelto {

struct Fingerprint {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    // 32 lower-case hex digits, high half first.
    std::string hex() const;
    // None unless `text` is exactly 32 hex digits.
    static std::optional<Fingerprint> fromHex(std::string_view text);

    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

// True for bytes that start with a zlib header (deflate, window of at most
// 32 KiB, header checksum): how presets are told from plain XML everywhere.
bool looksLikeZlib(std::span<const std::uint8_t> bytes) noexcept;

// The fingerprint of a preset's bytes, compressed or plain. Inflates and
// hashes piece by piece: nothing of the size of the document is allocated.
Fingerprint fingerprintOf(std::span<const std::uint8_t> bytes);

}  // namespace zelto
