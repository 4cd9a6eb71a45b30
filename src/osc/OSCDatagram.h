#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "osc/OSCBytes.h"

namespace zelto {

// A datagram's bytes in a shared, reference-counted buffer that the transport
// receives into. Objects decoded from it in place (OSCObject::from,
// OSCStandardDecoder::parseDatagram) hold their long strings, blobs and addresses as
// views into it, which keep it alive; the receiver's object itself lives in
// room reserved at the buffer's front. A buffer of up to `pooledCapacity`
// bytes goes back to a small pool when its last view drops, so steady
// receiving allocates nothing; a larger datagram gets a buffer of its size.
//
// Only the one who fills a datagram writes to it, before anything views it.
class OSCDatagram {
  public:
    // Sized for every datagram the devices send (a preset segment is about
    // 1.1 KB) while a view kept long pins little memory.
    static constexpr std::size_t pooledCapacity = 2048;
    // Free buffers the pool keeps; more are released to the heap.
    static constexpr std::size_t poolLimit = 64;

    // An empty datagram that can hold `capacity` bytes.
    static OSCDatagram make(std::size_t capacity);
    static OSCDatagram copyOf(std::span<const std::uint8_t> bytes);

    OSCDatagram() noexcept = default;

    explicit operator bool() const noexcept { return buffer() != nullptr; }
    std::size_t size() const noexcept;
    std::size_t capacity() const noexcept;
    std::span<const std::uint8_t> bytes() const noexcept;
    std::uint8_t* data() noexcept;
    // At most capacity().
    void resize(std::size_t size) noexcept;

    // Free buffers waiting in the pool.
    static std::size_t pooledCount();

    // While a Current lives, the standard decoder decodes bytes that lie in
    // this datagram in place, also when a decoder plugged into a server hands
    // them on as a plain view. The transport sets it around each hand-over.
    class Current {
      public:
        explicit Current(const OSCDatagram& datagram) noexcept;
        ~Current();
        Current(const Current&) = delete;
        Current& operator=(const Current&) = delete;

      private:
        const OSCDatagram* previous_;
    };
    // The datagram being handed over on this thread, or nullptr.
    static const OSCDatagram* current() noexcept;

  private:
    friend struct detail::OSCBufferAccess;
    explicit OSCDatagram(OSCBytes::Buffer* buffer) noexcept : buffer_(buffer) {}
    OSCBytes::Buffer* buffer() const noexcept { return buffer_.get(); }

    detail::OSCBufferAnchor buffer_;
};

}  // namespace zelto
