#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <span>
#include <utility>

#include "osc/OSCValue.h"

namespace zelto {

namespace detail {
struct OSCDecodeContext;
}

// The argument list of a message: the first `inlineCapacity` values live
// inside the list, so typical messages are built and decoded without heap.
class OSCValueList {
  public:
    static constexpr std::size_t inlineCapacity = 8;

    OSCValueList() noexcept {}  // user-provided: value-initialisation must not zero the inline storage
    OSCValueList(std::span<const OSCValue> values) { assign(values); }
    OSCValueList(std::initializer_list<OSCValue> values) { assign({values.begin(), values.size()}); }
    OSCValueList(const OSCValueList& other) { assign(other.span()); }
    OSCValueList(OSCValueList&& other) noexcept { steal(other); }
    OSCValueList& operator=(const OSCValueList& other) {
        if (this != &other) {
            clear();
            assign(other.span());
        }
        return *this;
    }
    OSCValueList& operator=(OSCValueList&& other) noexcept {
        if (this != &other) {
            clear();
            release();
            steal(other);
        }
        return *this;
    }
    ~OSCValueList() {
        clear();
        release();
    }

    void reserve(std::size_t capacity);
    void push_back(OSCValue value) {
        if (size_ == capacity_) reserve(capacity_ * 2);
        new (data_ + size_) OSCValue(std::move(value));
        ++size_;
    }
    // Appends an Int32 0 to be filled in place.
    OSCValue& emplace_back() {
        if (size_ == capacity_) reserve(capacity_ * 2);
        OSCValue* value = new (data_ + size_) OSCValue(std::int32_t{0});
        ++size_;
        return *value;
    }
    void clear() noexcept {
        for (std::size_t i = 0; i < size_; ++i) data_[i].~OSCValue();
        size_ = 0;
    }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    const OSCValue& operator[](std::size_t i) const noexcept { return data_[i]; }
    const OSCValue* begin() const noexcept { return data_; }
    const OSCValue* end() const noexcept { return data_ + size_; }
    std::span<const OSCValue> span() const noexcept { return {data_, size_}; }
    // Bytes of heap storage the list holds: none while its values fit inline.
    std::size_t heapBytes() const noexcept { return isInline() ? 0 : capacity_ * sizeof(OSCValue); }

    friend bool operator==(const OSCValueList& a, const OSCValueList& b) noexcept;

  private:
    friend struct detail::OSCDecodeContext;
    OSCValue* inlineData() noexcept { return std::launder(reinterpret_cast<OSCValue*>(storage_)); }
    bool isInline() const noexcept { return capacity_ == inlineCapacity; }
    void assign(std::span<const OSCValue> values);
    void steal(OSCValueList& other) noexcept;
    void release() noexcept;

    alignas(OSCValue) unsigned char storage_[inlineCapacity * sizeof(OSCValue)];
    OSCValue* data_ = inlineData();
    std::size_t size_ = 0;
    std::size_t capacity_ = inlineCapacity;
};

}  // namespace zelto
