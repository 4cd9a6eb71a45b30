#include <array>
#include <cstring>

#include "osc/OSCDecodeContext.h"
#include "osc/OSCDecoder.h"
#include "osc/OSCWire.h"

// All decoding lives in this one file so the value, message and bundle steps
// inline into each other.

namespace zelto {

// Each kind reads only what it needs from the front of `data`.
void detail::OSCDecodeContext::decodeValueInto(OSCValue& v, OSCValueKind kind, std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    const std::uint8_t* p = data.data();
    auto sizeError = [] { return OSCValueError(OSCValueError::Case::sizeError); };
    auto encodingError = [] { return OSCValueError(OSCValueError::Case::encodingError); };
    v.kind_ = kind;
    switch (kind) {
        case OSCValueKind::Int32:
        case OSCValueKind::Int:
            if (n < 4) throw sizeError();
            v.scalar_.i64 = static_cast<std::int32_t>(wire::loadU32(p));
            v.tag_ = 'i';
            return;
        case OSCValueKind::Float:
            if (n < 4) throw sizeError();
            v.scalar_.f32 = std::bit_cast<float>(wire::loadU32(p));
            v.tag_ = 'f';
            return;
        case OSCValueKind::Int64:
            if (n < 8) throw sizeError();
            v.scalar_.i64 = static_cast<std::int64_t>(wire::loadU64(p));
            v.tag_ = 'h';
            return;
        case OSCValueKind::UInt64:
            if (n < 8) throw sizeError();
            v.scalar_.u64 = wire::loadU64(p);
            v.tag_ = 't';
            return;
        case OSCValueKind::Bool:
            v.scalar_.u64 = 0;
            v.tag_ = 'F';
            return;
        case OSCValueKind::String: {
            auto* nul = static_cast<const std::uint8_t*>(std::memchr(p, 0, n));
            if (!nul) throw encodingError();
            std::size_t length = static_cast<std::size_t>(nul - p);
            std::size_t total = wire::paddedText(length);
            if (total > n) throw sizeError();
            for (std::size_t i = length + 1; i < total; ++i) {
                if (p[i]) throw encodingError();
            }
            if (!wire::isValidUTF8(p, length)) throw encodingError();
            v.scalar_.u64 = 0;
            v.scalar_.b = true;
            v.tag_ = 's';
            assign(v.bytes_, p, length, n);
            return;
        }
        case OSCValueKind::Data: {
            if (n < 4) throw sizeError();
            std::size_t length = wire::loadU32(p);
            // Checked in 64 bits so a length near 2^32 cannot wrap.
            std::uint64_t total = 4 + wire::padded(static_cast<std::uint64_t>(length));
            if (total > n) throw sizeError();
            for (std::size_t i = 4 + length; i < total; ++i) {
                if (p[i]) throw encodingError();
            }
            v.scalar_.u64 = 0;
            v.tag_ = 'b';
            assign(v.bytes_, p + 4, length, n - 4);
            return;
        }
    }
    throw sizeError();
}

namespace {

// Type tag character -> 1 + value kind, or 0 for an unsupported character.
constexpr auto tagKinds = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (auto tag = OSCTypeTag::from(static_cast<char>(c))) {
            table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(1 + static_cast<int>(tag->valueType()));
        }
    }
    return table;
}();

}  // namespace

void detail::OSCDecodeContext::decodeMessageInto(std::span<const std::uint8_t> data, OSCMessage& out) {
    using MessageCase = OSCMessageError::Case;
    using TagCase = OSCTypeTagStringError::Case;
    const std::size_t size = data.size();
    const std::uint8_t* p = data.data();
    if (size % 4 != 0) throw OSCMessageError(MessageCase::invalidSize);

    auto* addressEnd = static_cast<const std::uint8_t*>(std::memchr(p, 0, size));
    const std::size_t addressLength = addressEnd ? static_cast<std::size_t>(addressEnd - p) : size;
    std::string_view addressText(reinterpret_cast<const char*>(p), addressLength);
    if (!OSCAddress::isValid(addressText)) {
        for (std::size_t i = 0; i < addressLength; ++i) {
            if (p[i] >= 0x80) {
                throw OSCMessageError(MessageCase::malformedMessage, "OSC Address contains non ASCII Charachters");
            }
        }
        throw OSCMessageError(MessageCase::malformedAddress, std::string(addressText));
    }

    std::size_t offset = wire::paddedText(addressLength);
    if (offset > size) throw OSCMessageError(MessageCase::invalidSize);

    // Type tags: up to the next NUL or the end. One pass notes the first
    // problem of each kind; they are reported in the order of the rules.
    const std::uint8_t* tags = p + offset;
    auto* tagsEnd = static_cast<const std::uint8_t*>(std::memchr(tags, 0, size - offset));
    const std::size_t tagsLength = tagsEnd ? static_cast<std::size_t>(tagsEnd - tags) : size - offset;
    std::uint8_t highBits = 0;
    std::size_t unknown = 0;
    for (std::size_t i = tagsLength; i-- > 1;) {
        highBits |= tags[i];
        if (!tagKinds[tags[i]]) unknown = i;
    }
    if (tagsLength > 0) highBits |= tags[0];
    if (highBits & 0x80) throw OSCTypeTagStringError(TagCase::malformedData);
    if (tagsLength == 0 || tags[0] != ',') throw OSCTypeTagStringError(TagCase::unkownBeginningCharacter);
    if (unknown) throw OSCTypeTagStringError(TagCase::unkownTypeTag, static_cast<char>(tags[unknown]));
    const std::size_t tagCount = tagsLength - 1;

    OSCValueList& values = out.values_;
    if (tagCount > 0) {
        offset += wire::padded(tagCount + 2);
        if (offset > size) throw OSCMessageError(MessageCase::invalidSize);
        values.reserve(tagCount);
        for (std::size_t i = 1; i <= tagCount; ++i) {
            const std::uint8_t c = tags[i];
            OSCValue& value = values.emplace_back();
            if (c == 'T' || c == 'F') {
                value.kind_ = OSCValueKind::Bool;
                value.scalar_.u64 = 0;
                value.scalar_.b = c == 'T';
                value.tag_ = static_cast<char>(c);
                continue;
            }
            decodeValueInto(value, static_cast<OSCValueKind>(tagKinds[c] - 1), data.subspan(offset));
            offset += value.oscSize();
        }
    }
    assign(out.address_.text_, p, addressLength, size);
    // The canonical encoding's size; decoded strings are valid, and blobs are
    // shorter than the datagram.
    out.size_ = tagCount > 0 ? offset : wire::paddedText(addressLength) + 4;
    out.encodable_ = size < (std::size_t{1} << 31);
}

void detail::OSCDecodeContext::decodeBundleInto(std::span<const std::uint8_t> data, OSCBundle& bundle, int depth) {
    using Case = OSCBundleError::Case;
    const std::size_t size = data.size();
    const std::uint8_t* p = data.data();
    if (size <= 15 || size % 4 != 0) throw OSCBundleError(Case::invalidSize);
    if (std::memcmp(p, wire::bundlePrefix, 8) != 0) throw OSCBundleError(Case::invalidPrefix);
    // Each level costs stack; a datagram can nest thousands of levels.
    if (depth > OSCBundle::maxNestingDepth) throw OSCBundleError(Case::invalidSize);

    bundle.timetag_ = wire::loadU64(p + 8);
    std::size_t offset = 16;
    while (offset < size) {
        if (size - offset <= 4) throw OSCBundleError(Case::invalidSize);
        std::int32_t n = static_cast<std::int32_t>(wire::loadU32(p + offset));
        if (n < 0) throw OSCBundleError(Case::invalidSize);
        const std::size_t elementSize = static_cast<std::size_t>(n);
        if (elementSize > size - offset - 4) throw OSCBundleError(Case::sizeExceedsDataProvided);
        auto element = data.subspan(offset + 4, elementSize);
        if (!element.empty() && element[0] == '/') {
            auto& message = bundle.elements_.emplace_back(std::in_place_type<OSCMessage>, OSCDecodeKey());
            decodeMessageInto(element, *message.message());
        } else {
            if (elementSize <= 15) throw OSCBundleError(Case::invalidSize);
            auto& nested = bundle.elements_.emplace_back(std::in_place_type<OSCBundle>);
            decodeBundleInto(element, *nested.bundle(), depth + 1);
        }
        offset += 4 + elementSize;
    }
}

std::shared_ptr<OSCObject> OSCStandardDecoder::parse(OSCDataView data) {
    if (!data || data->empty()) throw OSCDecoderError(OSCDecoderError::Case::emptyDataProvided);
    const std::uint8_t first = (*data)[0];
    if (first != '/' && first != '#') throw OSCDecoderError(OSCDecoderError::Case::dataIsNotOSC);
    detail::OSCDecodeContext context(*data);
    if (first == '/') {
        auto object = std::make_shared<OSCObject>(std::in_place_type<OSCMessage>, detail::OSCDecodeKey());
        context.decodeMessageInto(*data, *object->message());
        return object;
    }
    auto object = std::make_shared<OSCObject>(std::in_place_type<OSCBundle>);
    context.decodeBundleInto(*data, *object->bundle(), 1);
    return object;
}

}  // namespace zelto
