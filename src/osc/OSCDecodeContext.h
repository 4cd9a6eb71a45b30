#pragma once

// Decoding state shared by message and bundle decoding (not installed API).

#include <cstdint>
#include <span>

#include "osc/OSCBytes.h"
#include "osc/OSCObject.h"

namespace zelto::detail {

// Long strings, blobs and addresses of one datagram become slices of a single
// copy of it, made on first need.
struct OSCDecodeContext {
    explicit OSCDecodeContext(std::span<const std::uint8_t> whole) noexcept : whole(whole) {}
    ~OSCDecodeContext() {
        if (buffer) OSCBytes::release(buffer);
    }
    OSCDecodeContext(const OSCDecodeContext&) = delete;
    OSCDecodeContext& operator=(const OSCDecodeContext&) = delete;

    // `data` must lie inside `whole`.
    OSCBytes slice(const std::uint8_t* data, std::size_t size) {
        if (size <= OSCBytes::inlineCapacity) return OSCBytes(std::span<const std::uint8_t>(data, size));
        if (!buffer) buffer = OSCBytes::makeBuffer(whole);
        return OSCBytes(buffer, OSCBytes::bufferData(buffer) + (data - whole.data()), size);
    }

    OSCValue decodeValue(OSCValueKind kind, std::span<const std::uint8_t> data);

    // The *Into forms decode straight into an object that already sits where
    // it will live (inside a shared object or a bundle's element list).
    void decodeMessageInto(std::span<const std::uint8_t> data, OSCMessage& out);
    void decodeBundleInto(std::span<const std::uint8_t> data, OSCBundle& out, int depth);
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

    std::span<const std::uint8_t> whole;
    OSCBytes::Buffer* buffer = nullptr;
};

}  // namespace zelto::detail
