#pragma once

// Decoding state shared by message and bundle decoding (not installed API).

#include <cstdint>
#include <cstring>
#include <span>

#include "osc/OSCBytes.h"
#include "osc/OSCObject.h"

namespace zelto::detail {

// Long strings, blobs and addresses of one datagram become slices of one
// buffer: the datagram's own when it is decoded in place, else a single copy
// of it, made on first need.
struct OSCDecodeContext {
    explicit OSCDecodeContext(std::span<const std::uint8_t> whole) noexcept : whole(whole) {}
    // In place when `shared` is given: it holds `whole`, and the caller holds
    // a reference to it.
    OSCDecodeContext(std::span<const std::uint8_t> whole, OSCBytes::Buffer* shared) noexcept
        : whole(whole), buffer(shared), inPlace(shared != nullptr) {}
    // Hands the provisional references back in one step: what remains is one
    // per slice made, however many of them were already dropped.
    ~OSCDecodeContext() {
        if (held) OSCBytes::release(buffer, held - slices);
    }
    OSCDecodeContext(const OSCDecodeContext&) = delete;
    OSCDecodeContext& operator=(const OSCDecodeContext&) = delete;

    // Makes the empty `target` hold [data, data + size), which lies inside
    // `whole` with `available` readable bytes from `data` on.
    void assign(OSCBytes& target, const std::uint8_t* data, std::size_t size, std::size_t available) {
        if (size <= OSCBytes::inlineCapacity) {
            // A fixed-size copy is cheaper; bytes past `size` are never read.
            if (available >= OSCBytes::inlineCapacity) {
                std::memcpy(target.inl_, data, OSCBytes::inlineCapacity);
            } else if (size) {
                std::memcpy(target.inl_, data, size);
            }
            target.size_ = static_cast<std::uint32_t>(size);
            return;
        }
        assignShared(target, data, size);
    }
    // The long-payload path of assign: a slice of the shared buffer,
    // borrowed when a message's anchor holds the buffer. The size, which
    // makes `target` a slice that its destructor releases, is set only once
    // the slice is whole: taking the reference may allocate, and throw.
    [[gnu::noinline]] void assignShared(OSCBytes& target, const std::uint8_t* data, std::size_t size) {
        if (!anchor) {
            takeReference();
        } else if (!anchor->buffer_) {
            anchor->buffer_ = takeReference();
        }
        target.setSlice(buffer, inPlace ? data : OSCBytes::bufferData(buffer) + (data - whole.data()),
                        anchor != nullptr);
        target.size_ = static_cast<std::uint32_t>(size);
    }
    // One reference to the shared buffer, for a slice or an anchor.
    OSCBytes::Buffer* takeReference() {
        if (inPlace) {
            OSCBytes::retain(buffer);
            return buffer;
        }
        if (!held) {
            buffer = OSCBytes::makeBuffer(whole, provisionalReferences);
            held = provisionalReferences;
        }
        ++slices;
        return buffer;
    }

    // Fills `value` (a fresh Int32 0) with a value of `kind` read from the
    // front of `data`; returns the bytes it occupies.
    [[gnu::always_inline]] inline std::size_t decodeValueInto(OSCValue& value, OSCValueKind kind,
                                                              std::span<const std::uint8_t> data);

    // The *Into forms decode straight into an object that already sits where
    // it will live (inside a shared object or a bundle's element list).
    void decodeMessageInto(std::span<const std::uint8_t> data, OSCMessage& out);
    void decodeBundleInto(std::span<const std::uint8_t> data, OSCBundle& out, int depth);
    // The message or bundle of the whole datagram; throws OSCDecoderError when
    // it is empty or neither.
    OSCObject decodeObject();
    OSCMessage decodeMessage(std::span<const std::uint8_t> data) {
        OSCMessage message{OSCDecodeKey()};
        decodeMessageInto(data, message);
        return message;
    }
    OSCBundle decodeBundle(std::span<const std::uint8_t> data, int depth) {
        OSCBundle bundle;
        decodeBundleInto(data, bundle, depth);
        return bundle;
    }

    // A copy starts with more references than any datagram has slices, so
    // each slice costs no atomic operation while decoding.
    static constexpr std::uint32_t provisionalReferences = std::uint32_t{1} << 30;

    std::span<const std::uint8_t> whole;
    OSCBytes::Buffer* buffer = nullptr;
    bool inPlace = false;
    // The anchor of the message being decoded, if any.
    OSCBufferAnchor* anchor = nullptr;
    std::uint32_t held = 0;
    std::uint32_t slices = 0;
};

}  // namespace zelto::detail
