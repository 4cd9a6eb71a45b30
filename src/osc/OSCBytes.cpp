#include "osc/OSCBytes.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace zelto {

namespace {
constexpr std::size_t headerSize = 16;  // keeps the payload 16-byte aligned
}  // namespace

class OSCBytes::Buffer {
  public:
    std::atomic<std::uint32_t> refs{1};
};
static_assert(sizeof(std::atomic<std::uint32_t>) <= headerSize);

void OSCBytes::retain(Buffer* buffer) noexcept {
    buffer->refs.fetch_add(1, std::memory_order_relaxed);
}

OSCBytes::Buffer* OSCBytes::makeBuffer(std::span<const std::uint8_t> bytes, std::uint32_t references) {
    void* memory = ::operator new(headerSize + bytes.size());
    auto* buffer = new (memory) Buffer;
    buffer->refs.store(references, std::memory_order_relaxed);
    if (!bytes.empty())
        std::memcpy(static_cast<std::uint8_t*>(memory) + headerSize, bytes.data(), bytes.size());
    return buffer;
}

const std::uint8_t* OSCBytes::bufferData(const Buffer* buffer) noexcept {
    return reinterpret_cast<const std::uint8_t*>(buffer) + headerSize;
}

void OSCBytes::release(Buffer* buffer, std::uint32_t references) noexcept {
    if (buffer->refs.fetch_sub(references, std::memory_order_acq_rel) == references) {
        buffer->~Buffer();
        ::operator delete(buffer);
    }
}

OSCBytes::OSCBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("OSCBytes");
    size_ = static_cast<std::uint32_t>(bytes.size());
    if (bytes.size() <= inlineCapacity) {
        inline_ = true;
        if (!bytes.empty()) std::memcpy(inl_, bytes.data(), bytes.size());
    } else {
        inline_ = false;
        ext_.buffer = makeBuffer(bytes);
        ext_.data = bufferData(ext_.buffer);
    }
}

OSCBytes::OSCBytes(std::string_view text)
    : OSCBytes(
          std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) {}

}  // namespace zelto
