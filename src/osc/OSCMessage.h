#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "osc/OSCAddress.h"
#include "osc/OSCEndpoint.h"
#include "osc/OSCErrors.h"
#include "osc/OSCValue.h"
#include "osc/OSCValueList.h"

namespace zelto {

namespace detail {
struct OSCDecodeContext;
class OSCFootprint;
// Lets decoders make an empty message in place and fill it.
struct OSCDecodeKey {
    explicit OSCDecodeKey() = default;
};
}  // namespace detail

// An OSC message: an address and its argument values. `endpoint` and
// `receiveTime` are set by the receiver and are not part of the encoding.
class OSCMessage {
  public:
    // The message, or none when `address` is not a valid address.
    static std::optional<OSCMessage> make(std::string_view address,
                                          std::initializer_list<OSCValue> values = {});
    static std::optional<OSCMessage> make(std::string_view address, std::span<const OSCValue> values);
    OSCMessage(OSCAddress address, std::initializer_list<OSCValue> values = {});
    OSCMessage(OSCAddress address, std::span<const OSCValue> values);
    OSCMessage(OSCAddress address, OSCValueList values) noexcept;
    explicit OSCMessage(detail::OSCDecodeKey) noexcept {}

    // Decodes one message. Throws OSCMessageError, OSCTypeTagStringError, OSCValueError.
    static OSCMessage from(std::span<const std::uint8_t> data);

    const OSCAddress& address() const noexcept { return address_; }
    const OSCValueList& values() const noexcept { return values_; }

    const std::optional<OSCEndpoint>& endpoint() const noexcept { return endpoint_; }
    void setEndpoint(std::optional<OSCEndpoint> endpoint) { endpoint_ = std::move(endpoint); }
    // Monotonic nanoseconds at which the message was received.
    std::optional<std::uint64_t> receiveTime() const noexcept { return receiveTime_; }
    void setReceiveTime(std::optional<std::uint64_t> time) noexcept { receiveTime_ = time; }

    // Equals the length of the encoding.
    std::size_t oscSize() const noexcept { return size_; }
    // Throws OSCValueError for a value that cannot be encoded.
    std::vector<std::uint8_t> encode() const;
    void encode(std::vector<std::uint8_t>& out) const;  // appends
    // Writes into `out`, which must hold at least oscSize() bytes; returns the byte count.
    std::size_t encode(std::span<std::uint8_t> out) const;

    // "OSCMessage(/a, values: [1, \"x\"])" or "OSCMessage(/a)".
    std::string description() const;

    // The memory the message keeps allocated, roughly: itself, its value list
    // beyond the inline values, and every shared buffer it holds a reference
    // to, each once (for a received message the whole datagram buffer it
    // pins, however few bytes it views). What a queue holding it really holds.
    std::size_t memoryFootprint() const noexcept;

    friend bool operator==(const OSCMessage&, const OSCMessage&) = default;

  private:
    friend struct detail::OSCDecodeContext;
    friend class OSCBundle;
    friend class OSCObject;
    // Adds what the message holds beyond its own bytes.
    void addHeldMemory(detail::OSCFootprint& footprint) const noexcept;
    std::size_t encodeUnchecked(std::uint8_t* out) const noexcept;
    void checkEncodable() const;
    void measure() noexcept;

    // Declared first so it outlives the slices it holds the buffer for.
    detail::OSCBufferAnchor anchor_;
    OSCAddress address_;
    OSCValueList values_;
    std::optional<OSCEndpoint> endpoint_;
    std::optional<std::uint64_t> receiveTime_;
    // Derived from the address and values, which never change after construction.
    std::size_t size_ = 0;
    bool encodable_ = false;
};

}  // namespace zelto
