#pragma once

// The shared buffers behind OSCBytes and OSCDatagram (not installed API).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "osc/OSCBytes.h"
#include "osc/OSCDatagram.h"
#include "osc/OSCObject.h"

namespace zelto {

class OSCBytes::Buffer {
  public:
    // copy: a decoder's copy of bytes; pooled and sized: datagram buffers,
    // which have the object slot in front of them.
    enum class Kind : std::uint8_t { copy, pooled, sized };

    std::atomic<std::uint32_t> refs{1};
    std::uint32_t capacity = 0;
    std::uint32_t size = 0;
    Kind kind = Kind::copy;
};

namespace detail {

struct OSCBufferAccess {
    using Buffer = OSCBytes::Buffer;

    static constexpr std::size_t headerSize = 16;  // keeps the payload 16-byte aligned
    static_assert(sizeof(Buffer) <= headerSize);
    // Room for a shared object's control block and the object.
    static constexpr std::size_t slotSize = (sizeof(OSCObject) + 64 + 63) / 64 * 64;

    static std::uint8_t* data(Buffer* buffer) noexcept {
        return reinterpret_cast<std::uint8_t*>(buffer) + headerSize;
    }
    static void* slot(Buffer* buffer) noexcept { return reinterpret_cast<std::uint8_t*>(buffer) - slotSize; }
    static Buffer* buffer(const OSCDatagram& datagram) noexcept { return datagram.buffer(); }
    static void release(Buffer* buffer) noexcept { OSCBytes::release(buffer); }
    // True when `view` lies inside the buffer's bytes.
    static bool contains(Buffer* buffer, std::span<const std::uint8_t> view) noexcept {
        const auto begin = reinterpret_cast<std::uintptr_t>(data(buffer));
        const auto at = reinterpret_cast<std::uintptr_t>(view.data());
        return at >= begin && at - begin <= buffer->size && view.size() <= buffer->size - (at - begin);
    }
    // Takes the slot for the caller's object, holding one reference for it.
    // Free when the caller's reference is the only one: the slot holds one
    // while taken.
    static bool claimSlot(Buffer* buffer) noexcept {
        std::uint32_t sole = 1;
        return buffer->kind != Buffer::Kind::copy &&
               buffer->refs.compare_exchange_strong(sole, 2, std::memory_order_acquire,
                                                    std::memory_order_relaxed);
    }
    // The last reference to a datagram buffer dropped.
    static void recycle(Buffer* buffer) noexcept;
};

// Places a shared object in a datagram's slot; claimSlot first.
template <class T>
struct OSCSlotAllocator {
    using value_type = T;
    explicit OSCSlotAllocator(OSCBufferAccess::Buffer* buffer) noexcept : buffer(buffer) {}
    template <class U>
    OSCSlotAllocator(const OSCSlotAllocator<U>& other) noexcept : buffer(other.buffer) {}

    T* allocate(std::size_t n) {
        static_assert(sizeof(T) <= OSCBufferAccess::slotSize && alignof(T) <= OSCBufferAccess::headerSize);
        if (n != 1) throw std::bad_alloc();
        return static_cast<T*>(OSCBufferAccess::slot(buffer));
    }
    void deallocate(T*, std::size_t) noexcept { OSCBufferAccess::release(buffer); }
    template <class U>
    friend bool operator==(const OSCSlotAllocator& a, const OSCSlotAllocator<U>& b) noexcept {
        return a.buffer == b.buffer;
    }

    OSCBufferAccess::Buffer* buffer;
};

}  // namespace detail
}  // namespace zelto
