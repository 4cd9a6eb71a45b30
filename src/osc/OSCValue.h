#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "osc/OSCBytes.h"
#include "osc/OSCErrors.h"

namespace zelto {

namespace detail {
struct OSCDecodeContext;
}

// The eight argument kinds. `Int` is the platform integer: it travels as a
// 32-bit "i" (truncated), so a decoded "i" is always `Int32`.
enum class OSCValueKind : std::uint8_t { Int32, Int, Int64, Float, Bool, String, Data, UInt64 };

// One supported type tag character.
class OSCTypeTag {
  public:
    // The tag for `character`, or none when it is not one of i h f s b t T F.
    static constexpr std::optional<OSCTypeTag> from(char character) noexcept;

    constexpr char rawValue() const noexcept { return raw_; }
    constexpr OSCValueKind valueType() const noexcept { return kind_; }
    constexpr std::uint8_t encode() const noexcept { return static_cast<std::uint8_t>(raw_); }
    friend constexpr bool operator==(OSCTypeTag, OSCTypeTag) noexcept = default;

    static const OSCTypeTag int32;     // "i"
    static const OSCTypeTag int64;     // "h"
    static const OSCTypeTag float32;   // "f"
    static const OSCTypeTag string;    // "s"
    static const OSCTypeTag blob;      // "b"
    static const OSCTypeTag timeTag;   // "t"
    static const OSCTypeTag trueTag;   // "T"
    static const OSCTypeTag falseTag;  // "F"

  private:
    constexpr OSCTypeTag(char raw, OSCValueKind kind) noexcept : raw_(raw), kind_(kind) {}
    char raw_;
    OSCValueKind kind_;
};

inline constexpr OSCTypeTag OSCTypeTag::int32{'i', OSCValueKind::Int32};
inline constexpr OSCTypeTag OSCTypeTag::int64{'h', OSCValueKind::Int64};
inline constexpr OSCTypeTag OSCTypeTag::float32{'f', OSCValueKind::Float};
inline constexpr OSCTypeTag OSCTypeTag::string{'s', OSCValueKind::String};
inline constexpr OSCTypeTag OSCTypeTag::blob{'b', OSCValueKind::Data};
inline constexpr OSCTypeTag OSCTypeTag::timeTag{'t', OSCValueKind::UInt64};
inline constexpr OSCTypeTag OSCTypeTag::trueTag{'T', OSCValueKind::Bool};
inline constexpr OSCTypeTag OSCTypeTag::falseTag{'F', OSCValueKind::Bool};

constexpr std::optional<OSCTypeTag> OSCTypeTag::from(char character) noexcept {
    switch (character) {
        case 'i':
            return int32;
        case 'h':
            return int64;
        case 'f':
            return float32;
        case 's':
            return string;
        case 'b':
            return blob;
        case 't':
            return timeTag;
        case 'T':
            return trueTag;
        case 'F':
            return falseTag;
        default:
            return std::nullopt;
    }
}

// The OSC time tag meaning "immediately".
inline constexpr std::uint64_t OSCTimeTagNow = 1;

// One OSC argument: a closed set of kinds, compared by kind and content.
// Strings and blobs up to OSCBytes::inlineCapacity bytes need no heap.
// Plain C++ integers become Int32 (int) or Int64 (std::int64_t); use the
// named makers for the platform Int and for time tags.
class OSCValue {
  public:
    OSCValue(std::int32_t v) noexcept : kind_(OSCValueKind::Int32), tag_('i') { scalar_.i64 = v; }
    OSCValue(std::int64_t v) noexcept : kind_(OSCValueKind::Int64), tag_('h') { scalar_.i64 = v; }
    OSCValue(float v) noexcept : kind_(OSCValueKind::Float), tag_('f') { scalar_.f32 = v; }
    OSCValue(bool v) noexcept : kind_(OSCValueKind::Bool), tag_(v ? 'T' : 'F') { scalar_.b = v; }
    OSCValue(const char* text) : OSCValue(std::string_view(text)) {}
    OSCValue(const std::string& text) : OSCValue(std::string_view(text)) {}
    OSCValue(std::string_view text);

    // Named makers, for kinds that share a C++ type with another kind.
    static OSCValue int32(std::int32_t v) noexcept { return OSCValue(v); }
    static OSCValue integer(std::int64_t v) noexcept;  // the platform `Int`
    static OSCValue int64(std::int64_t v) noexcept { return OSCValue(v); }
    static OSCValue timeTag(std::uint64_t v) noexcept;
    static OSCValue string(std::string_view text) { return OSCValue(text); }
    static OSCValue blob(std::span<const std::uint8_t> bytes);
    static OSCValue blob(OSCBytes bytes) noexcept;
    static OSCValue stringBytes(OSCBytes bytes) noexcept;

    // Decodes a value of `kind` from the front of `data` (which may run on
    // past it). Throws OSCValueError. `Bool` gives false, reading nothing.
    static OSCValue fromOSCData(OSCValueKind kind, std::span<const std::uint8_t> data);

    OSCValueKind kind() const noexcept { return kind_; }
    OSCTypeTag typeTag() const noexcept {
        switch (kind_) {
            case OSCValueKind::Int32:
            case OSCValueKind::Int:
                return OSCTypeTag::int32;
            case OSCValueKind::Int64:
                return OSCTypeTag::int64;
            case OSCValueKind::Float:
                return OSCTypeTag::float32;
            case OSCValueKind::Bool:
                return scalar_.b ? OSCTypeTag::trueTag : OSCTypeTag::falseTag;
            case OSCValueKind::String:
                return OSCTypeTag::string;
            case OSCValueKind::Data:
                return OSCTypeTag::blob;
            case OSCValueKind::UInt64:
                return OSCTypeTag::timeTag;
        }
        return OSCTypeTag::int32;
    }
    std::size_t oscSize() const noexcept {
        switch (kind_) {
            case OSCValueKind::Int32:
            case OSCValueKind::Int:
            case OSCValueKind::Float:
                return 4;
            case OSCValueKind::Int64:
            case OSCValueKind::UInt64:
                return 8;
            case OSCValueKind::Bool:
                return 0;
            case OSCValueKind::String:
                return (bytes_.size() / 4 + 1) * 4;
            case OSCValueKind::Data:
                return 4 + ((bytes_.size() + 3) & ~std::size_t{3});
        }
        return 0;
    }
    // Appends the argument bytes. Throws OSCValueError (a blob of 2^31 bytes or more).
    void oscEncode(std::vector<std::uint8_t>& out) const;
    std::vector<std::uint8_t> oscEncode() const;

    // Accessors: the content when the value is of that kind, else none.
    // `asInt` accepts Int and Int32; views live as long as the value.
    std::optional<std::int32_t> asInt32() const noexcept {
        if (kind_ != OSCValueKind::Int32) return std::nullopt;
        return static_cast<std::int32_t>(scalar_.i64);
    }
    std::optional<std::int64_t> asInt() const noexcept {
        if (kind_ != OSCValueKind::Int && kind_ != OSCValueKind::Int32) return std::nullopt;
        return scalar_.i64;
    }
    std::optional<std::int64_t> asInt64() const noexcept {
        if (kind_ != OSCValueKind::Int64) return std::nullopt;
        return scalar_.i64;
    }
    std::optional<float> asFloat() const noexcept {
        if (kind_ != OSCValueKind::Float) return std::nullopt;
        return scalar_.f32;
    }
    std::optional<bool> asBool() const noexcept {
        if (kind_ != OSCValueKind::Bool) return std::nullopt;
        return scalar_.b;
    }
    std::optional<std::string_view> asString() const noexcept {
        if (kind_ != OSCValueKind::String) return std::nullopt;
        return bytes_.view();
    }
    std::optional<std::span<const std::uint8_t>> asData() const noexcept {
        if (kind_ != OSCValueKind::Data) return std::nullopt;
        return bytes_.span();
    }
    std::optional<std::uint64_t> asUInt64() const noexcept {
        if (kind_ != OSCValueKind::UInt64) return std::nullopt;
        return scalar_.u64;
    }
    const OSCBytes& bytes() const noexcept { return bytes_; }  // string or blob content

    // Debug form: 12, 1.5, true, "text", "5 bytes".
    std::string description() const;

    friend bool operator==(const OSCValue& a, const OSCValue& b) noexcept;

  private:
    OSCValue(OSCValueKind kind, OSCBytes bytes) noexcept : bytes_(std::move(bytes)), kind_(kind) {
        scalar_.u64 = 0;
        tag_ = kind == OSCValueKind::String ? 's' : kind == OSCValueKind::Data ? 'b' : 't';
    }
    // Encodable without error: strings are valid UTF-8 without NUL, blobs below 2^31 bytes.
    bool encodable() const noexcept {
        if (kind_ == OSCValueKind::String) return scalar_.b;
        return kind_ != OSCValueKind::Data || bytes_.size() < (std::size_t{1} << 31);
    }
    friend class OSCMessage;
    friend struct detail::OSCDecodeContext;
    std::size_t encodeUnchecked(std::uint8_t* out) const noexcept;
    void checkEncodable() const;

    union {
        std::int64_t i64;
        std::uint64_t u64;
        float f32;
        bool b;  // for strings: valid UTF-8 without NUL, so encodable
    } scalar_;
    OSCBytes bytes_;
    OSCValueKind kind_;
    char tag_;  // the type tag character, kept for the encoder's tag loop
};

// The type tag string of a message: "," followed by one tag per value.
class OSCTypeTagString {
  public:
    OSCTypeTagString() = default;
    explicit OSCTypeTagString(std::span<const OSCValue> values);
    // Throws OSCTypeTagStringError: text must start with ","; reading stops at the first NUL.
    static OSCTypeTagString fromText(std::string_view text);
    // The bytes as ASCII text (else malformedData), then as fromText.
    static OSCTypeTagString fromOSCData(std::span<const std::uint8_t> data);

    const std::vector<OSCTypeTag>& typeTags() const noexcept { return typeTags_; }
    std::vector<std::uint8_t> encode() const;
    std::size_t oscSize() const noexcept { return (typeTags_.size() + 2 + 3) & ~std::size_t{3}; }

    friend bool operator==(const OSCTypeTagString&, const OSCTypeTagString&) = default;

  private:
    std::vector<OSCTypeTag> typeTags_;
};

}  // namespace zelto
