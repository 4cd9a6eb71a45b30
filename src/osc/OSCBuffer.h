#pragma once

// The shared buffers behind OSCBytes and OSCDatagram (not installed API).

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

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
    // The whole allocation behind a buffer: its bytes, the header and, for a
    // datagram's, the object slot in front.
    static std::size_t allocationSize(const Buffer* buffer) noexcept {
        return (buffer->kind == Buffer::Kind::copy ? 0 : slotSize) + headerSize + buffer->capacity;
    }
    // True when `object` lies in the object slot of a datagram buffer.
    static bool inSlot(const Buffer* buffer, const void* object) noexcept {
        if (buffer->kind == Buffer::Kind::copy) return false;
        const auto at = reinterpret_cast<std::uintptr_t>(object);
        const auto begin = reinterpret_cast<std::uintptr_t>(buffer) - slotSize;
        return at >= begin && at - begin < slotSize;
    }
    // The buffer `bytes` holds a reference of its own to, or nullptr (inline
    // contents, or a slice borrowed from its message's anchor).
    static const Buffer* ownBuffer(const OSCBytes& bytes) noexcept {
        return bytes.isInline() || bytes.inl_[OSCBytes::borrowedAt] ? nullptr : bytes.sliceBuffer();
    }
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
    // Notes that `object` lives in the slot of `buffer` (after claimSlot).
    static void placedInSlot(OSCObject& object, const Buffer* buffer) noexcept { object.slotOf_ = buffer; }
    static const Buffer* slotOf(const OSCObject& object) noexcept {
        return static_cast<const Buffer*>(object.slotOf_);
    }
};

// Adds up the memory objects keep allocated, each shared buffer once (as
// far as a few recent ones are remembered: a decoded datagram's slices all
// share one buffer, so a miss only counts a buffer twice).
class OSCFootprint {
  public:
    // What the allocator keeps per heap block, roughly.
    static constexpr std::size_t blockOverhead = 16;

    void add(std::size_t bytes) noexcept { total_ += bytes; }
    void addBlock(std::size_t bytes) noexcept { total_ += bytes + blockOverhead; }
    void addBuffer(const OSCBufferAccess::Buffer* buffer) noexcept {
        for (std::size_t i = 0; i < seenCount_; ++i)
            if (seen_[i] == buffer) return;
        seen_[seenCount_ < recent ? seenCount_++ : next_++ % recent] = buffer;
        addBlock(OSCBufferAccess::allocationSize(buffer));
    }
    void addBytes(const OSCBytes& bytes) noexcept {
        if (const auto* buffer = OSCBufferAccess::ownBuffer(bytes)) addBuffer(buffer);
    }
    void addText(const std::string& text) noexcept {
        const auto* at = reinterpret_cast<const char*>(&text);
        // Short texts live inside the string object.
        if (text.data() < at || text.data() >= at + sizeof text) addBlock(text.capacity() + 1);
    }
    // True when `object` lies in the slot of a datagram buffer already counted.
    bool inCountedSlot(const void* object) const noexcept {
        for (std::size_t i = 0; i < seenCount_; ++i)
            if (OSCBufferAccess::inSlot(seen_[i], object)) return true;
        return false;
    }
    std::size_t total() const noexcept { return total_; }

  private:
    static constexpr std::size_t recent = 4;
    std::size_t total_ = 0;
    std::array<const OSCBufferAccess::Buffer*, recent> seen_{};
    std::size_t seenCount_ = 0;
    std::size_t next_ = 0;
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
