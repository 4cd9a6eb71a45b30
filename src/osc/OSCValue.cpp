#include "osc/OSCValue.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "osc/OSCDecodeContext.h"
#include "osc/OSCValueEncoding.h"
#include "osc/OSCWire.h"

namespace zelto {

namespace wire {

bool isValidUTF8Slow(const std::uint8_t* s, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n) {
        // ASCII runs, eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= n) break;
        std::uint8_t c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint8_t low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length) return false;
        if (s[i + 1] < low || s[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace wire

namespace {

bool encodableText(std::string_view text) noexcept {
    auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    return std::memchr(data, 0, text.size()) == nullptr && wire::isValidUTF8(data, text.size());
}

void appendEscaped(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

}  // namespace

OSCValue::OSCValue(std::string_view text) : bytes_(text), kind_(OSCValueKind::String), tag_('s') {
    scalar_.u64 = 0;
    scalar_.b = encodableText(text);
}

OSCValue OSCValue::integer(std::int64_t v) noexcept {
    OSCValue value(v);
    value.kind_ = OSCValueKind::Int;
    value.tag_ = 'i';
    return value;
}

OSCValue OSCValue::timeTag(std::uint64_t v) noexcept {
    OSCValue value(OSCValueKind::UInt64, OSCBytes());
    value.scalar_.u64 = v;
    return value;
}

OSCValue OSCValue::blob(std::span<const std::uint8_t> bytes) {
    return OSCValue(OSCValueKind::Data, OSCBytes(bytes));
}

OSCValue OSCValue::blob(OSCBytes bytes) noexcept {
    return OSCValue(OSCValueKind::Data, std::move(bytes));
}

OSCValue OSCValue::stringBytes(OSCBytes bytes) noexcept {
    OSCValue value(OSCValueKind::String, std::move(bytes));
    value.scalar_.b = encodableText(value.bytes_.view());
    return value;
}

void OSCValue::checkEncodable() const {
    if (kind_ == OSCValueKind::String && !scalar_.b) throw OSCValueError(OSCValueError::Case::encodingError);
    if (kind_ == OSCValueKind::Data && bytes_.size() >= (std::size_t{1} << 31)) {
        throw OSCValueError(OSCValueError::Case::sizeError);
    }
}

void OSCValue::oscEncode(std::vector<std::uint8_t>& out) const {
    checkEncodable();
    std::size_t start = out.size();
    out.resize(start + oscSize());
    encodeUnchecked(out.data() + start);
}

std::vector<std::uint8_t> OSCValue::oscEncode() const {
    std::vector<std::uint8_t> out;
    oscEncode(out);
    return out;
}

std::string OSCValue::description() const {
    switch (kind_) {
        case OSCValueKind::Int32:
        case OSCValueKind::Int:
        case OSCValueKind::Int64:
            return std::to_string(scalar_.i64);
        case OSCValueKind::UInt64:
            return std::to_string(scalar_.u64);
        case OSCValueKind::Bool:
            return scalar_.b ? "true" : "false";
        case OSCValueKind::Float: {
            char text[32];
            auto result = std::to_chars(text, text + sizeof text, scalar_.f32);
            std::string s(text, result.ptr);
            if (s.find_first_of(".en") == std::string::npos) s += ".0";
            return s;
        }
        case OSCValueKind::String: {
            std::string s;
            appendEscaped(s, bytes_.view());
            return s;
        }
        case OSCValueKind::Data:
            return std::to_string(bytes_.size()) + " bytes";
    }
    return {};
}

bool operator==(const OSCValue& a, const OSCValue& b) noexcept {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case OSCValueKind::Int32:
        case OSCValueKind::Int:
        case OSCValueKind::Int64:
            return a.scalar_.i64 == b.scalar_.i64;
        case OSCValueKind::UInt64:
            return a.scalar_.u64 == b.scalar_.u64;
        case OSCValueKind::Float:
            return a.scalar_.f32 == b.scalar_.f32;
        case OSCValueKind::Bool:
            return a.scalar_.b == b.scalar_.b;
        case OSCValueKind::String:
        case OSCValueKind::Data:
            return a.bytes_ == b.bytes_;
    }
    return false;
}

// OSCTypeTagString

OSCTypeTagString::OSCTypeTagString(std::span<const OSCValue> values) {
    typeTags_.reserve(values.size());
    for (const auto& v : values) typeTags_.push_back(v.typeTag());
}

OSCTypeTagString OSCTypeTagString::fromText(std::string_view text) {
    if (text.empty() || text.front() != ',') {
        throw OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownBeginningCharacter);
    }
    OSCTypeTagString result;
    for (std::size_t i = 1; i < text.size() && text[i] != '\0'; ++i) {
        auto tag = OSCTypeTag::from(text[i]);
        if (!tag) throw OSCTypeTagStringError(OSCTypeTagStringError::Case::unkownTypeTag, text[i]);
        result.typeTags_.push_back(*tag);
    }
    return result;
}

OSCTypeTagString OSCTypeTagString::fromOSCData(std::span<const std::uint8_t> data) {
    for (auto byte : data) {
        if (byte >= 0x80) throw OSCTypeTagStringError(OSCTypeTagStringError::Case::malformedData);
    }
    return fromText(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::vector<std::uint8_t> OSCTypeTagString::encode() const {
    std::vector<std::uint8_t> out(oscSize(), 0);
    out[0] = ',';
    for (std::size_t i = 0; i < typeTags_.size(); ++i) out[i + 1] = typeTags_[i].encode();
    return out;
}

}  // namespace zelto
