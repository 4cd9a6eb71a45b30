#pragma once

// Helpers the preset classes share for reading a parsed element they own: one pass over the
// attributes instead of a lookup per name, and children moved out rather than copied.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preset/QVXMLElement.h"

namespace zelto::detail {

// A fixed list of attribute names (in the order they are read) plus, for each, the name that sorts
// after it: documents we write list attributes sorted, so the next attribute is usually that one.
template <std::size_t N>
struct AttributeNames {
    std::array<std::string_view, N> names;
    std::array<std::size_t, N> following{};
    std::size_t firstSorted = 0;

    constexpr explicit AttributeNames(std::array<std::string_view, N> list) : names(list) {
        std::array<std::size_t, N> order{};
        for (std::size_t i = 0; i < N; ++i) order[i] = i;
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t j = i + 1; j < N; ++j)
                if (names[order[j]] < names[order[i]]) std::swap(order[i], order[j]);
        firstSorted = order[0];
        for (std::size_t i = 0; i < N; ++i) following[order[i]] = order[(i + 1) % N];
    }
};

// Names are a few bytes long; a plain loop beats a call to memcmp for each of them.
inline bool sameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Values of a fixed list of attributes, by position in the list, with the typed conversions.
template <std::size_t N>
class ValueSlots {
  public:
    void set(std::size_t slot, std::string_view value) noexcept {
        if (found_[slot]) return;
        found_[slot] = true;
        values_[slot] = {value.data(), value.size()};
    }

    std::string_view require(std::size_t slot) const {
        if (!found_[slot]) throw QVXMLDecodingError::attributeNotFound();
        return {values_[slot].data, values_[slot].size};
    }
    std::string string(std::size_t slot) const { return std::string(require(slot)); }
    std::int64_t int64(std::size_t slot) const { return convert(parseXMLInt64(require(slot))); }
    std::uint64_t uint64(std::size_t slot) const { return convert(parseXMLUInt64(require(slot))); }
    float float32(std::size_t slot) const { return convert(parseXMLFloat(require(slot))); }
    bool boolean(std::size_t slot) const { return convert(parseXMLBool(require(slot))); }

  private:
    template <typename T>
    static T convert(std::optional<T> value) {
        if (!value) throw QVXMLDecodingError::attributeValueConversion();
        return *value;
    }

    struct Found {
        const char* data;
        std::size_t size;
    };
    std::array<Found, N> values_;  // meaningful where found_ is set
    std::array<bool, N> found_{};
};

// The values of the named attributes, found in one pass. Views into the element's attributes: convert
// them before removeTaken().
template <std::size_t N>
class AttributeSlots : public ValueSlots<N> {
  public:
    AttributeSlots(QVXMLAttributes& attributes, const AttributeNames<N>& names)
        : attributes_(attributes), names_(names) {
        std::size_t guess = names.firstSorted;
        for (const QVXMLAttributes::Attribute a : attributes) {
            std::size_t slot = N;
            if (sameName(names.names[guess], a.name)) {
                slot = guess;
            } else {
                for (std::size_t i = 0; i < N; ++i)
                    if (sameName(names.names[i], a.name)) {
                        slot = i;
                        break;
                    }
            }
            if (slot == N) continue;
            this->set(slot, a.value);
            ++taken_;
            guess = names.following[slot];
        }
    }

    // Drops the attributes that were read, leaving the residual ones. Invalidates the views.
    void removeTaken() {
        if (taken_ == 0) return;
        if (taken_ == attributes_.size()) {
            attributes_.clear();
        } else {
            attributes_.eraseAll(names_.names);
        }
    }

  private:
    QVXMLAttributes& attributes_;
    const AttributeNames<N>& names_;
    std::size_t taken_ = 0;
};

// Moves every child whose name is in `names` out of `children` (document order kept on both sides).
inline std::vector<QVXMLElement> extractChildren(std::vector<QVXMLElement>& children,
                                                 std::initializer_list<std::string_view> names) {
    std::vector<QVXMLElement> taken;
    std::size_t out = 0;
    for (std::size_t i = 0; i < children.size(); ++i) {
        bool match = false;
        for (std::string_view n : names) match = match || children[i].elementName == n;
        if (match) {
            taken.push_back(std::move(children[i]));
        } else {
            if (out != i) children[out] = std::move(children[i]);
            ++out;
        }
    }
    children.resize(out);
    return taken;
}

inline QVXMLElement* firstNamed(std::vector<QVXMLElement>& elements, std::string_view name) noexcept {
    for (auto& e : elements)
        if (e.elementName == name) return &e;
    return nullptr;
}

}  // namespace zelto::detail
