#include "osc/OSCBytes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

#include "osc/OSCBuffer.h"

namespace zelto {

using detail::OSCBufferAccess;

void OSCBytes::retain(Buffer* buffer, std::uint32_t references) noexcept {
    buffer->refs.fetch_add(references, std::memory_order_relaxed);
}

OSCBytes::Buffer* OSCBytes::makeBuffer(std::span<const std::uint8_t> bytes, std::uint32_t references) {
    void* memory = ::operator new(OSCBufferAccess::headerSize + bytes.size());
    auto* buffer = new (memory) Buffer;
    buffer->refs.store(references, std::memory_order_relaxed);
    // Saturated: only the memory accounting reads it for a copy.
    buffer->capacity = static_cast<std::uint32_t>(
        std::min<std::size_t>(bytes.size(), std::numeric_limits<std::uint32_t>::max()));
    if (!bytes.empty()) std::memcpy(OSCBufferAccess::data(buffer), bytes.data(), bytes.size());
    return buffer;
}

const std::uint8_t* OSCBytes::bufferData(const Buffer* buffer) noexcept {
    return OSCBufferAccess::data(const_cast<Buffer*>(buffer));
}

void OSCBytes::release(Buffer* buffer, std::uint32_t references) noexcept {
    if (buffer->refs.fetch_sub(references, std::memory_order_acq_rel) == references) {
        if (buffer->kind != Buffer::Kind::copy) return OSCBufferAccess::recycle(buffer);
        buffer->~Buffer();
        ::operator delete(buffer);
    }
}

OSCBytes::OSCBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("OSCBytes");
    if (bytes.size() <= inlineCapacity) {
        if (!bytes.empty()) std::memcpy(inl_, bytes.data(), bytes.size());
    } else {
        Buffer* buffer = makeBuffer(bytes);
        setSlice(buffer, bufferData(buffer), false);
    }
    // Set last, as in decoding: a size makes the bytes a slice to release.
    size_ = static_cast<std::uint32_t>(bytes.size());
}

OSCBytes::OSCBytes(std::string_view text)
    : OSCBytes(
          std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) {}

// OSCDatagram

namespace {

using Buffer = OSCBufferAccess::Buffer;

// Free pooled buffers, linked through their slots. Never destroyed: buffers
// may be released while the program exits.
struct Pool {
    std::mutex mutex;
    Buffer* head = nullptr;
    std::size_t count = 0;
};

Pool& pool() {
    static Pool* instance = new Pool;
    return *instance;
}

Buffer*& nextOf(Buffer* buffer) noexcept {
    return *static_cast<Buffer**>(OSCBufferAccess::slot(buffer));
}

void freeDatagramBuffer(Buffer* buffer) noexcept {
    void* memory = OSCBufferAccess::slot(buffer);
    buffer->~Buffer();
    ::operator delete(memory);
}

thread_local const OSCDatagram* currentDatagram = nullptr;

}  // namespace

void OSCBufferAccess::recycle(Buffer* buffer) noexcept {
    if (buffer->kind == Buffer::Kind::pooled) {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        if (p.count < OSCDatagram::poolLimit) {
            nextOf(buffer) = p.head;
            p.head = buffer;
            ++p.count;
            return;
        }
    }
    freeDatagramBuffer(buffer);
}

OSCDatagram::Writer OSCDatagram::make(std::size_t capacity) {
    if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("OSCDatagram");
    const bool pooled = capacity <= pooledCapacity;
    if (pooled) {
        OSCBytes::Buffer* buffer = nullptr;
        {
            Pool& p = pool();
            std::lock_guard lock(p.mutex);
            if ((buffer = p.head)) {
                p.head = nextOf(buffer);
                --p.count;
            }
        }
        if (buffer) {
            buffer->refs.store(1, std::memory_order_relaxed);
            buffer->size = 0;
            return Writer(buffer);
        }
        capacity = pooledCapacity;
    }
    void* memory = ::operator new(OSCBufferAccess::slotSize + OSCBufferAccess::headerSize + capacity);
    auto* buffer = new (static_cast<std::uint8_t*>(memory) + OSCBufferAccess::slotSize) OSCBytes::Buffer;
    buffer->capacity = static_cast<std::uint32_t>(capacity);
    buffer->kind = pooled ? OSCBytes::Buffer::Kind::pooled : OSCBytes::Buffer::Kind::sized;
    return Writer(buffer);
}

OSCDatagram OSCDatagram::copyOf(std::span<const std::uint8_t> bytes) {
    Writer writer = make(bytes.size());
    if (!bytes.empty()) std::memcpy(writer.data(), bytes.data(), bytes.size());
    return std::move(writer).finish(bytes.size());
}

std::size_t OSCDatagram::Writer::capacity() const noexcept {
    return buffer_.get() ? buffer_.get()->capacity : 0;
}

std::uint8_t* OSCDatagram::Writer::data() noexcept {
    return buffer_.get() ? OSCBufferAccess::data(buffer_.get()) : nullptr;
}

OSCDatagram OSCDatagram::Writer::finish(std::size_t size) && {
    if (size > capacity()) throw std::length_error("OSCDatagram::Writer::finish");
    if (buffer_.get()) buffer_.get()->size = static_cast<std::uint32_t>(size);
    return OSCDatagram(std::move(buffer_));
}

std::size_t OSCDatagram::size() const noexcept {
    return buffer() ? buffer()->size : 0;
}

std::size_t OSCDatagram::capacity() const noexcept {
    return buffer() ? buffer()->capacity : 0;
}

std::span<const std::uint8_t> OSCDatagram::bytes() const noexcept {
    if (!buffer()) return {};
    return {OSCBufferAccess::data(buffer()), buffer()->size};
}

std::size_t OSCDatagram::pooledCount() {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.count;
}

OSCDatagram::Current::Current(const OSCDatagram& datagram) noexcept : previous_(currentDatagram) {
    currentDatagram = &datagram;
}

OSCDatagram::Current::~Current() {
    currentDatagram = previous_;
}

const OSCDatagram* OSCDatagram::current() noexcept {
    return currentDatagram;
}

}  // namespace zelto
