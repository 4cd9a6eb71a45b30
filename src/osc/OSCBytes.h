#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace zelto {

namespace detail {
struct OSCDecodeContext;
}

// An immutable byte string, the storage of string and blob values and of
// address texts. Up to `inlineCapacity` bytes live inside the object; longer
// contents live in a shared, reference-counted buffer, so copies are cheap and
// every long payload of one decoded datagram points into a single copy of it.
class OSCBytes {
  public:
    static constexpr std::size_t inlineCapacity = 24;

    OSCBytes() noexcept : size_(0), inline_(true) {}
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

    // A reference-counted heap buffer; slices of it keep it alive.
    class Buffer;
    // Buffer management for decoders: a new buffer holding a copy of `bytes`,
    // with `references` references owned by the caller.
    static Buffer* makeBuffer(std::span<const std::uint8_t> bytes, std::uint32_t references = 1);
    static const std::uint8_t* bufferData(const Buffer* buffer) noexcept;
    static void release(Buffer* buffer, std::uint32_t references = 1) noexcept;

    static void retain(Buffer* buffer) noexcept;
    void copyFrom(const OSCBytes& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        if (!inline_) retain(ext_.buffer);
    }
    void moveFrom(OSCBytes& other) noexcept {
        std::memcpy(static_cast<void*>(this), &other, sizeof *this);
        other.size_ = 0;
        other.inline_ = true;
    }
    void destroy() noexcept {
        if (!inline_) release(ext_.buffer);
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
};

}  // namespace zelto
