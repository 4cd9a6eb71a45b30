#include <array>
#include <cstring>

#include "osc/OSCBuffer.h"
#include "osc/OSCDecodeContext.h"
#include "osc/OSCDecoder.h"
#include "osc/OSCWire.h"

// All decoding lives in this one file so the value, message and bundle steps
// inline into each other.

namespace zelto {

namespace {

// Kept out of line so the decoding loops stay small enough to inline.
[[noreturn, gnu::cold, gnu::noinline]] void throwValueError(OSCValueError::Case c) {
    throw OSCValueError(c);
}

}  // namespace

// Each kind reads only what it needs from the front of `data`.
inline std::size_t detail::OSCDecodeContext::decodeValueInto(OSCValue& v, OSCValueKind kind,
                                                             std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    const std::uint8_t* p = data.data();
    v.kind_ = kind;
    switch (kind) {
        case OSCValueKind::Int32:
        case OSCValueKind::Int:
            if (n < 4) throwValueError(OSCValueError::Case::sizeError);
            v.scalar_.i64 = static_cast<std::int32_t>(wire::loadU32(p));
            v.tag_ = 'i';
            return 4;
        case OSCValueKind::Float:
            if (n < 4) throwValueError(OSCValueError::Case::sizeError);
            v.scalar_.f32 = std::bit_cast<float>(wire::loadU32(p));
            v.tag_ = 'f';
            return 4;
        case OSCValueKind::Int64:
            if (n < 8) throwValueError(OSCValueError::Case::sizeError);
            v.scalar_.i64 = static_cast<std::int64_t>(wire::loadU64(p));
            v.tag_ = 'h';
            return 8;
        case OSCValueKind::UInt64:
            if (n < 8) throwValueError(OSCValueError::Case::sizeError);
            v.scalar_.u64 = wire::loadU64(p);
            v.tag_ = 't';
            return 8;
        case OSCValueKind::Bool:
            v.scalar_.u64 = 0;
            v.tag_ = 'F';
            return 0;
        case OSCValueKind::String: {
            const auto [length, highBit] = wire::scanText(p, n);
            if (length == n) throwValueError(OSCValueError::Case::encodingError);
            std::size_t total = wire::paddedText(length);
            if (total > n) throwValueError(OSCValueError::Case::sizeError);
            // The NUL and its padding fill the last word: total - 4 <= length < total.
            if (!wire::zeroTail(p + total, total - length))
                throwValueError(OSCValueError::Case::encodingError);
            if (highBit && !wire::isValidUTF8Slow(p, length))
                throwValueError(OSCValueError::Case::encodingError);
            v.scalar_.u64 = 0;
            v.scalar_.b = true;
            v.tag_ = 's';
            assign(v.bytes_, p, length, n);
            return total;
        }
        case OSCValueKind::Data: {
            if (n < 4) throwValueError(OSCValueError::Case::sizeError);
            std::size_t length = wire::loadU32(p);
            // Checked in 64 bits so a length near 2^32 cannot wrap.
            std::uint64_t total = 4 + wire::padded(static_cast<std::uint64_t>(length));
            if (total > n) throwValueError(OSCValueError::Case::sizeError);
            if (!wire::zeroTail(p + total, static_cast<std::size_t>(total - 4 - length)))
                throwValueError(OSCValueError::Case::encodingError);
            v.scalar_.u64 = 0;
            v.tag_ = 'b';
            assign(v.bytes_, p + 4, length, n - 4);
            return static_cast<std::size_t>(total);
        }
    }
    throwValueError(OSCValueError::Case::sizeError);
}

OSCValue OSCValue::fromOSCData(OSCValueKind kind, std::span<const std::uint8_t> data) {
    detail::OSCDecodeContext context(data);
    OSCValue value(0);
    (void)context.decodeValueInto(value, kind, data);
    return value;
}

namespace {

// Type tag character -> 1 + value kind, or 0 for an unsupported character.
constexpr auto tagKinds = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (auto tag = OSCTypeTag::from(static_cast<char>(c))) {
            table[static_cast<std::size_t>(c)] =
                static_cast<std::uint8_t>(1 + static_cast<int>(tag->valueType()));
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
    anchor = &out.anchor_;

    bool validAddress;
    const std::size_t addressLength = wire::scanAddress(p, size, validAddress);
    if (!validAddress) {
        std::string_view addressText(reinterpret_cast<const char*>(p), addressLength);
        for (std::size_t i = 0; i < addressLength; ++i) {
            if (p[i] >= 0x80) {
                throw OSCMessageError(MessageCase::malformedMessage,
                                      "OSC Address contains non ASCII Charachters");
            }
        }
        throw OSCMessageError(MessageCase::malformedAddress, std::string(addressText));
    }

    std::size_t offset = wire::paddedText(addressLength);
    if (offset > size) throw OSCMessageError(MessageCase::invalidSize);

    // Type tags: up to the next NUL or the end. One pass notes the first
    // problem of each kind; they are reported in the order of the rules.
    const std::uint8_t* tags = p + offset;
    const auto [tagsLength, highBit, unknown] = wire::scanTags(tags, size - offset, tagKinds);
    if (highBit) throw OSCTypeTagStringError(TagCase::malformedData);
    if (tagsLength == 0 || tags[0] != ',') throw OSCTypeTagStringError(TagCase::unkownBeginningCharacter);
    if (unknown) throw OSCTypeTagStringError(TagCase::unkownTypeTag, static_cast<char>(tags[unknown]));
    const std::size_t tagCount = tagsLength - 1;

    OSCValueList& values = out.values_;
    if (tagCount > 0) {
        offset += wire::padded(tagCount + 2);
        if (offset > size) throw OSCMessageError(MessageCase::invalidSize);
        if (tagCount > values.capacity()) values.reserve(tagCount);
        // The list learns its size at the end, or from the handler when a value fails.
        OSCValue* const first = values.data_;
        std::size_t made = 0;
        try {
            for (; made < tagCount; ++made) {
                const std::uint8_t c = tags[made + 1];
                OSCValue& value = *new (first + made) OSCValue(std::int32_t{0});
                if (c == 'T' || c == 'F') {
                    value.kind_ = OSCValueKind::Bool;
                    value.scalar_.u64 = 0;
                    value.scalar_.b = c == 'T';
                    value.tag_ = static_cast<char>(c);
                    continue;
                }
                offset +=
                    decodeValueInto(value, static_cast<OSCValueKind>(tagKinds[c] - 1), data.subspan(offset));
            }
        } catch (...) {
            values.size_ = made + 1;
            throw;
        }
        values.size_ = made;
    }
    assign(out.address_.text_, p, addressLength, size);
    // The canonical encoding's size; decoded strings are valid, and blobs are
    // shorter than the datagram.
    out.size_ = tagCount > 0 ? offset : wire::paddedText(addressLength) + 4;
    out.encodable_ = size < (std::size_t{1} << 31);
}

void detail::OSCDecodeContext::decodeBundleInto(std::span<const std::uint8_t> data, OSCBundle& bundle,
                                                int depth) {
    using Case = OSCBundleError::Case;
    const std::size_t size = data.size();
    const std::uint8_t* p = data.data();
    if (size <= 15 || size % 4 != 0) throw OSCBundleError(Case::invalidSize);
    if (std::memcmp(p, wire::bundlePrefix, 8) != 0) throw OSCBundleError(Case::invalidPrefix);
    // Each level costs stack; a datagram can nest thousands of levels.
    if (depth > OSCBundle::maxNestingDepth) throw OSCBundleError(Case::invalidSize);

    bundle.timetag_ = wire::loadU64(p + 8);

    // Size the element list once: counting hops over the size fields, up to
    // the first one that the loop below will reject.
    std::size_t count = 0;
    for (std::size_t at = 16; size - at > 4; ++count) {
        const auto n = static_cast<std::int32_t>(wire::loadU32(p + at));
        if (n < 8 || static_cast<std::size_t>(n) > size - at - 4) break;
        at += 4 + static_cast<std::size_t>(n);
    }
    bundle.elements_.reserve(count);

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

namespace {

bool startsOSC(std::span<const std::uint8_t> data) {
    if (data.empty()) throw OSCDecoderError(OSCDecoderError::Case::emptyDataProvided);
    if (data[0] != '/' && data[0] != '#') throw OSCDecoderError(OSCDecoderError::Case::dataIsNotOSC);
    return data[0] == '/';
}

// `shared`, when given, holds `data` and the caller holds a reference to it.
std::shared_ptr<OSCObject> parseShared(std::span<const std::uint8_t> data,
                                       detail::OSCBufferAccess::Buffer* shared) {
    const bool isMessage = startsOSC(data);
    detail::OSCDecodeContext context(data, shared);
    std::shared_ptr<OSCObject> object;
    if (shared && detail::OSCBufferAccess::claimSlot(shared)) {
        detail::OSCSlotAllocator<OSCObject> slot(shared);
        object = isMessage ? std::allocate_shared<OSCObject>(slot, std::in_place_type<OSCMessage>,
                                                             detail::OSCDecodeKey())
                           : std::allocate_shared<OSCObject>(slot, std::in_place_type<OSCBundle>);
        detail::OSCBufferAccess::placedInSlot(*object, shared);
    } else {
        object = isMessage
                     ? std::make_shared<OSCObject>(std::in_place_type<OSCMessage>, detail::OSCDecodeKey())
                     : std::make_shared<OSCObject>(std::in_place_type<OSCBundle>);
    }
    if (isMessage) {
        context.decodeMessageInto(data, *object->message());
    } else {
        context.decodeBundleInto(data, *object->bundle(), 1);
    }
    return object;
}

}  // namespace

OSCObject detail::OSCDecodeContext::decodeObject() {
    const bool isMessage = startsOSC(whole);
    // One named result, built where it is returned.
    OSCObject object = isMessage ? OSCObject(std::in_place_type<OSCMessage>, detail::OSCDecodeKey())
                                 : OSCObject(std::in_place_type<OSCBundle>);
    if (isMessage) {
        decodeMessageInto(whole, *object.message());
    } else {
        decodeBundleInto(whole, *object.bundle(), 1);
    }
    return object;
}

std::shared_ptr<OSCObject> OSCStandardDecoder::parse(OSCDataView data) {
    if (!data) throw OSCDecoderError(OSCDecoderError::Case::emptyDataProvided);
    detail::OSCBufferAccess::Buffer* shared = nullptr;
    if (const OSCDatagram* current = OSCDatagram::current()) {
        auto* buffer = detail::OSCBufferAccess::buffer(*current);
        if (buffer && detail::OSCBufferAccess::contains(buffer, *data)) shared = buffer;
    }
    return parseShared(*data, shared);
}

std::shared_ptr<OSCObject> OSCStandardDecoder::parseDatagram(const OSCDatagram& datagram) {
    return parseShared(datagram.bytes(), detail::OSCBufferAccess::buffer(datagram));
}

OSCObject OSCObject::from(const OSCDatagram& datagram) {
    detail::OSCDecodeContext context(datagram.bytes(), detail::OSCBufferAccess::buffer(datagram));
    return context.decodeObject();
}

}  // namespace zelto
