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
}  // namespace detail

// An immutable byte string, the storage of string and blob values and of
// address texts. Up to `inlineCapacity` bytes live inside the object; longer
// contents live in a shared, reference-counted buffer, so copies are cheap and
// every long payload of one decoded datagram points into one buffer: the
// received datagram itself (see OSCDatagram), or a single copy of the bytes.
class OSCBytes {
  public:
    // Every address a device sends without a long payload fits.
    static constexpr std::size_t inlineCapacity = 28;

    OSCBytes() noexcept : size_(0) {}
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

    const std::uint8_t* data() const noexcept { return isInline() ? inl_ : sliceData(); }
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
        if (!isInline()) {
            retain(sliceBuffer());
            inl_[borrowedAt] = 0;
        }
    }
    void moveFrom(OSCBytes& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        other.size_ = 0;
    }
    void destroy() noexcept {
        if (!isInline() && !inl_[borrowedAt]) release(sliceBuffer());
    }

    // Longer contents are a slice: the buffer and the data pointer at the
    // front of inl_, then the borrowed flag.
    static constexpr std::size_t borrowedAt = 2 * sizeof(void*);
    bool isInline() const noexcept { return size_ <= inlineCapacity; }
    Buffer* sliceBuffer() const noexcept {
        Buffer* buffer;
        std::memcpy(&buffer, inl_, sizeof buffer);
        return buffer;
    }
    const std::uint8_t* sliceData() const noexcept {
        const std::uint8_t* data;
        std::memcpy(&data, inl_ + sizeof(void*), sizeof data);
        return data;
    }
    // `borrowed`: without a reference of its own, as the anchor of the
    // decoded message it sits in holds one for all of them. Copies take their own.
    void setSlice(Buffer* buffer, const std::uint8_t* data, bool borrowed) noexcept {
        std::memcpy(inl_, &buffer, sizeof buffer);
        std::memcpy(inl_ + sizeof(void*), &data, sizeof data);
        inl_[borrowedAt] = borrowed;
    }

    // Inline when size_ <= inlineCapacity.
    alignas(void*) std::uint8_t inl_[inlineCapacity];
    std::uint32_t size_;
};

static_assert(sizeof(OSCBytes) == 32);

namespace detail {

// One counted reference to a shared buffer: a datagram's, or the one that the
// borrowed slices of a decoded message share (it moves and copies with the
// message).
class OSCBufferAnchor {
  public:
    OSCBufferAnchor() noexcept = default;
    // Takes over a reference the caller holds.
    explicit OSCBufferAnchor(OSCBytes::Buffer* adopted) noexcept : buffer_(adopted) {}
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
    OSCBytes::Buffer* get() const noexcept { return buffer_; }
    // Storage, not content.
    friend bool operator==(const OSCBufferAnchor&, const OSCBufferAnchor&) noexcept { return true; }

  private:
    friend struct OSCDecodeContext;
    OSCBytes::Buffer* buffer_ = nullptr;
};

}  // namespace detail

}  // namespace zelto
