#include "osc/OSCValueList.h"

#include <algorithm>
#include <new>

namespace zelto {

void OSCValueList::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    auto* fresh = static_cast<OSCValue*>(
        ::operator new (capacity * sizeof(OSCValue), std::align_val_t{alignof(OSCValue)}));
    for (std::size_t i = 0; i < size_; ++i) {
        new (fresh + i) OSCValue(std::move(data_[i]));
        data_[i].~OSCValue();
    }
    release();
    data_ = fresh;
    capacity_ = capacity;
}

void OSCValueList::assign(std::span<const OSCValue> values) {
    reserve(values.size());
    for (const auto& v : values) {
        new (data_ + size_) OSCValue(v);
        ++size_;
    }
}

void OSCValueList::steal(OSCValueList& other) noexcept {
    if (other.isInline()) {
        data_ = inlineData();
        capacity_ = inlineCapacity;
        for (std::size_t i = 0; i < other.size_; ++i) {
            new (data_ + i) OSCValue(std::move(other.data_[i]));
            other.data_[i].~OSCValue();
        }
        size_ = other.size_;
    } else {
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = other.inlineData();
        other.capacity_ = inlineCapacity;
    }
    other.size_ = 0;
}

void OSCValueList::release() noexcept {
    if (!isInline()) {
        ::operator delete (data_, std::align_val_t{alignof(OSCValue)});
        data_ = inlineData();
        capacity_ = inlineCapacity;
    }
}

bool operator==(const OSCValueList& a, const OSCValueList& b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace zelto
