#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "osc/OSCEndpoint.h"
#include "osc/OSCErrors.h"
#include "osc/OSCMessage.h"

namespace zelto {

class OSCObject;
class OSCDatagram;

namespace detail {
struct OSCBufferAccess;
}

// A time tag and an ordered list of messages and nested bundles.
class OSCBundle {
  public:
    explicit OSCBundle(std::uint64_t timetag = OSCTimeTagNow);
    OSCBundle(std::uint64_t timetag, std::vector<OSCObject> elements);
    OSCBundle(const OSCBundle&);
    OSCBundle(OSCBundle&&) noexcept;
    OSCBundle& operator=(const OSCBundle&);
    OSCBundle& operator=(OSCBundle&&) noexcept;
    ~OSCBundle();

    // Decodes one bundle, nested bundles included (at most maxNestingDepth deep).
    // Throws OSCBundleError, or the error of an element.
    static OSCBundle from(std::span<const std::uint8_t> data);
    static constexpr int maxNestingDepth = 32;

    std::uint64_t timetag() const noexcept { return timetag_; }
    void setTimetag(std::uint64_t timetag) noexcept { timetag_ = timetag; }
    const std::vector<OSCObject>& elements() const noexcept { return elements_; }
    std::vector<OSCObject>& elements() noexcept { return elements_; }
    void add(OSCMessage message);
    void add(OSCBundle bundle);

    const std::optional<OSCEndpoint>& endpoint() const noexcept { return endpoint_; }
    std::optional<std::uint64_t> receiveTime() const noexcept { return receiveTime_; }
    // Both stamp the bundle and every element inside it, at any depth.
    void setEndpoint(const std::optional<OSCEndpoint>& endpoint);
    void setReceiveTime(std::optional<std::uint64_t> time) noexcept;

    std::size_t oscSize() const noexcept;
    // Throws OSCValueError (an element or value too large to encode).
    std::vector<std::uint8_t> encode() const;
    void encode(std::vector<std::uint8_t>& out) const;  // appends
    std::size_t encode(std::span<std::uint8_t> out) const;

    // "OSCBundle(1, values: \n<element>\n)" or "empty OSCBundle(1)".
    std::string description() const;

    // As OSCMessage::memoryFootprint, over the element list and every element.
    std::size_t memoryFootprint() const noexcept;

    friend bool operator==(const OSCBundle&, const OSCBundle&);

  private:
    friend struct detail::OSCDecodeContext;
    friend class OSCObject;
    void addHeldMemory(detail::OSCFootprint& footprint) const noexcept;
    std::size_t encodeUnchecked(std::uint8_t* out) const noexcept;
    std::size_t checkEncodable() const;

    std::optional<OSCEndpoint> endpoint_;
    std::optional<std::uint64_t> receiveTime_;
    std::uint64_t timetag_;
    std::vector<OSCObject> elements_;
};

// A message or a bundle. A received object is published once and read by
// many: the transport hands it around as `OSCObjectPtr`
// (std::shared_ptr<const OSCObject>), stamped before it is shared.
class OSCObject {
  public:
    OSCObject(OSCMessage message) noexcept : value_(std::move(message)) {}
    OSCObject(OSCBundle bundle) noexcept : value_(std::move(bundle)) {}
    template <class T, class... Args>
    explicit OSCObject(std::in_place_type_t<T> kind, Args&&... args)
        : value_(kind, std::forward<Args>(args)...) {}
    // Copies and moves take the content; the object's place stays behind.
    OSCObject(const OSCObject& other) : value_(other.value_) {}
    OSCObject(OSCObject&& other) noexcept : value_(std::move(other.value_)) {}
    OSCObject& operator=(const OSCObject& other) {
        value_ = other.value_;
        return *this;
    }
    OSCObject& operator=(OSCObject&& other) noexcept {
        value_ = std::move(other.value_);
        return *this;
    }

    // "/..." decodes a message, "#..." a bundle; anything else, or no bytes,
    // throws OSCDecoderError.
    static OSCObject from(std::span<const std::uint8_t> data);
    // The same, in place: long strings, blobs and addresses are views into
    // the datagram, which they keep alive.
    static OSCObject from(const OSCDatagram& datagram);

    bool isMessage() const noexcept { return value_.index() == 0; }
    bool isBundle() const noexcept { return value_.index() == 1; }
    // The message or bundle, or nullptr when the object is the other kind.
    const OSCMessage* message() const noexcept { return std::get_if<OSCMessage>(&value_); }
    OSCMessage* message() noexcept { return std::get_if<OSCMessage>(&value_); }
    const OSCBundle* bundle() const noexcept { return std::get_if<OSCBundle>(&value_); }
    OSCBundle* bundle() noexcept { return std::get_if<OSCBundle>(&value_); }
    const std::variant<OSCMessage, OSCBundle>& value() const noexcept { return value_; }

    const std::optional<OSCEndpoint>& endpoint() const noexcept;
    std::optional<std::uint64_t> receiveTime() const noexcept;
    // On a bundle these descend into every element.
    void setEndpoint(const std::optional<OSCEndpoint>& endpoint);
    void setReceiveTime(std::optional<std::uint64_t> time) noexcept;

    std::size_t oscSize() const noexcept;
    std::vector<std::uint8_t> encode() const;
    void encode(std::vector<std::uint8_t>& out) const;
    std::size_t encode(std::span<std::uint8_t> out) const;
    std::string description() const;

    // The memory the object keeps allocated (see OSCMessage::memoryFootprint),
    // itself included unless it lives in the object slot of the datagram
    // buffer it holds. The transport's receive queues are bounded by it.
    std::size_t memoryFootprint() const noexcept;

    friend bool operator==(const OSCObject& a, const OSCObject& b) { return a.value_ == b.value_; }

  private:
    friend class OSCBundle;
    friend struct detail::OSCBufferAccess;
    void addHeldMemory(detail::OSCFootprint& footprint) const noexcept;
    std::variant<OSCMessage, OSCBundle> value_;
    // The datagram buffer in whose object slot this object was placed (which
    // the slot keeps alive), or nullptr.
    const void* slotOf_ = nullptr;
};

using OSCObjectPtr = std::shared_ptr<const OSCObject>;

}  // namespace zelto
