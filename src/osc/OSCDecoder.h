#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "osc/OSCDatagram.h"
#include "osc/OSCObject.h"

namespace zelto {

using OSCDataView = std::optional<std::span<const std::uint8_t>>;

// A decoder type: one static `parse` that turns a datagram into an object,
// returns nullptr for "no object" (a device decoder may do so), or throws.
// The object is returned mutable so the receiver can stamp it before sharing.
template <class D>
concept OSCDecoder = requires(OSCDataView data) {
    { D::parse(data) } -> std::convertible_to<std::shared_ptr<OSCObject>>;
};

// How a server holds "a decoder type": a pointer to its `parse`.
using OSCDecoderFunction = std::shared_ptr<OSCObject> (*)(OSCDataView data);

template <OSCDecoder D>
constexpr OSCDecoderFunction decoderFunction() noexcept {
    return &D::parse;
}

// The library's decoder. Never returns nullptr: an object or an exception
// (OSCDecoderError for no bytes or non-OSC bytes; else the message's or bundle's error).
struct OSCStandardDecoder {
    // Bytes inside OSCDatagram::current() are decoded in place, others copied.
    static std::shared_ptr<OSCObject> parse(OSCDataView data);
    // In place. The object lives in the datagram's buffer when the caller
    // holds the only other reference to it (as the transport does), so a
    // message of up to OSCValueList::inlineCapacity values allocates nothing.
    static std::shared_ptr<OSCObject> parseDatagram(const OSCDatagram& datagram);
};

}  // namespace zelto
