#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace zelto {

class OSCDatagram;

namespace detail {
struct OSCDecodeContext;
struct OSCBufferAccess;
class OSCBufferAnchor;
}

// An immutable byte string, the storage of string and blob values and of
// address texts. Up to `inlineCapacity` bytes live inside the object; longer
// contents live in a shared, reference-counted buffer, so copies are cheap and
// every long payload of one decoded datagram points into one buffer: the
// received datagram itself (see OSCDatagram), or a single copy of the bytes.
class OSCBytes {
  public:
    static constexpr std::size_t inlineCapacity = 24;

    OSCBytes() noexcept : size_(0), inline_(true), borrowed_(false) {}
    explicit OSCBytes(std::span<const std::uint8_t> bytes);
    explicit OSCBytes(std::string_view text);

    OSCBytes(const OSCBytes& other) noexcept { copyFrom(other); }
    OSCBytes(OSCBytes&& other) noexcept { moveFrom(other); }
    OSCBytes& operator=(const OSCBytes& other) noexcept {
        if (this != &other) {
            destroy();
            copyFrom(other);
        }
        return *this;
    }
    OSCBytes& operator=(OSCBytes&& other) noexcept {
        if (this != &other) {
            destroy();
            moveFrom(other);
        }
        return *this;
    }
    ~OSCBytes() { destroy(); }

    const std::uint8_t* data() const noexcept { return inline_ ? inl_ : ext_.data; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size() == 0; }
    std::span<const std::uint8_t> span() const noexcept { return {data(), size()}; }
    std::string_view view() const noexcept { return {reinterpret_cast<const char*>(data()), size()}; }

    friend bool operator==(const OSCBytes& a, const OSCBytes& b) noexcept { return a.view() == b.view(); }

  private:
    friend struct detail::OSCDecodeContext;
    friend struct detail::OSCBufferAccess;
    friend class detail::OSCBufferAnchor;
    friend class OSCDatagram;

    // A reference-counted heap buffer; slices of it keep it alive.
    class Buffer;
    // Buffer management for decoders: a new buffer holding a copy of `bytes`,
    // with `references` references owned by the caller.
    static Buffer* makeBuffer(std::span<const std::uint8_t> bytes, std::uint32_t references = 1);
    static const std::uint8_t* bufferData(const Buffer* buffer) noexcept;
    static void release(Buffer* buffer, std::uint32_t references = 1) noexcept;

    static void retain(Buffer* buffer, std::uint32_t references = 1) noexcept;
    void copyFrom(const OSCBytes& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        if (!inline_) {
            retain(ext_.buffer);
            borrowed_ = false;
        }
    }
    void moveFrom(OSCBytes& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        other.size_ = 0;
        other.inline_ = true;
    }
    void destroy() noexcept {
        if (!inline_ && !borrowed_) release(ext_.buffer);
    }

    union {
        std::uint8_t inl_[inlineCapacity];
        struct {
            Buffer* buffer;
            const std::uint8_t* data;
        } ext_;
    };
    std::uint32_t size_;
    bool inline_;
    // A slice without a reference of its own: the anchor of the decoded
    // message it sits in holds one for all of them. Copies take their own.
    bool borrowed_;
};

namespace detail {

// Holds the one reference to a shared buffer that the borrowed slices of a
// decoded message share; it moves and copies with the message.
class OSCBufferAnchor {
  public:
    OSCBufferAnchor() noexcept = default;
    OSCBufferAnchor(const OSCBufferAnchor& other) noexcept : buffer_(other.buffer_) {
        if (buffer_) OSCBytes::retain(buffer_);
    }
    OSCBufferAnchor(OSCBufferAnchor&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = nullptr; }
    OSCBufferAnchor& operator=(const OSCBufferAnchor& other) noexcept {
        if (other.buffer_) OSCBytes::retain(other.buffer_);
        if (buffer_) OSCBytes::release(buffer_);
        buffer_ = other.buffer_;
        return *this;
    }
    OSCBufferAnchor& operator=(OSCBufferAnchor&& other) noexcept {
        if (this != &other) {
            if (buffer_) OSCBytes::release(buffer_);
            buffer_ = other.buffer_;
            other.buffer_ = nullptr;
        }
        return *this;
    }
    ~OSCBufferAnchor() {
        if (buffer_) OSCBytes::release(buffer_);
    }
    // Storage, not content.
    friend bool operator==(const OSCBufferAnchor&, const OSCBufferAnchor&) noexcept { return true; }

  private:
    friend struct OSCDecodeContext;
    OSCBytes::Buffer* buffer_ = nullptr;
};

}  // namespace detail

}  // namespace zelto
