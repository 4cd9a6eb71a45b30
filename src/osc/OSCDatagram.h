#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

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
// A datagram is read-only: copies share its buffer, and nothing in its API
// writes to it. Its bytes are written once, through the Writer that the one
// who fills it (the receiving transport) gets from `make`, before any
// datagram or view of them exists.
class OSCDatagram {
  public:
    // Sized for every datagram the devices send (a preset segment is about
    // 1.1 KB) while a view kept long pins little memory.
    static constexpr std::size_t pooledCapacity = 2048;
    // Free buffers the pool keeps; more are released to the heap.
    static constexpr std::size_t poolLimit = 64;

    // The only writable handle on a fresh buffer: move-only, and empty once
    // `finish` turned it into the datagram, so the bytes cannot change under
    // objects decoded from them.
    class Writer {
      public:
        Writer() noexcept = default;
        Writer(Writer&&) noexcept = default;
        Writer& operator=(Writer&&) noexcept = default;
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

        explicit operator bool() const noexcept { return buffer_.get() != nullptr; }
        std::size_t capacity() const noexcept;
        // Where to write, capacity() bytes; nullptr for an empty writer.
        std::uint8_t* data() noexcept;
        // The datagram of the first `size` bytes written; the writer is empty
        // afterwards. Throws std::length_error when `size` is above capacity().
        OSCDatagram finish(std::size_t size) &&;

      private:
        friend class OSCDatagram;
        explicit Writer(OSCBytes::Buffer* buffer) noexcept : buffer_(buffer) {}
        detail::OSCBufferAnchor buffer_;
    };

    // A writer for a datagram of up to `capacity` bytes.
    static Writer make(std::size_t capacity);
    static OSCDatagram copyOf(std::span<const std::uint8_t> bytes);

    OSCDatagram() noexcept = default;

    explicit operator bool() const noexcept { return buffer() != nullptr; }
    std::size_t size() const noexcept;
    std::size_t capacity() const noexcept;
    std::span<const std::uint8_t> bytes() const noexcept;

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
    explicit OSCDatagram(detail::OSCBufferAnchor buffer) noexcept : buffer_(std::move(buffer)) {}
    OSCBytes::Buffer* buffer() const noexcept { return buffer_.get(); }

    detail::OSCBufferAnchor buffer_;
};

}  // namespace zelto
