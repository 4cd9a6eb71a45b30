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

template <std::size_t N>
class AttributeSlots {
public:
    AttributeSlots(QVXMLAttributes& attributes, const AttributeNames<N>& names) : attributes_(attributes) {
        auto& entries = attributes.entries();
        std::size_t guess = names.firstSorted;
        for (std::size_t e = 0; e < entries.size(); ++e) {
            const std::string_view key = entries[e].first;
            std::size_t slot = N;
            if (names.names[guess] == key) {
                slot = guess;
            } else {
                for (std::size_t i = 0; i < N; ++i)
                    if (names.names[i] == key) {
                        slot = i;
                        break;
                    }
            }
            if (slot == N) continue;
            if (!values_[slot]) values_[slot] = &entries[e].second;
            if (e < 64) {
                taken_ |= std::uint64_t{1} << e;
            } else {
                overflow_ = true;
            }
            guess = names.following[slot];
        }
        names_ = &names;
    }

    std::string& require(std::size_t slot) const {
        if (!values_[slot]) throw QVXMLDecodingError::attributeNotFound();
        return *values_[slot];
    }
    std::string takeString(std::size_t slot) const { return std::move(require(slot)); }
    std::int64_t int64(std::size_t slot) const { return convert(parseXMLInt64(require(slot))); }
    std::uint64_t uint64(std::size_t slot) const { return convert(parseXMLUInt64(require(slot))); }
    float float32(std::size_t slot) const { return convert(parseXMLFloat(require(slot))); }
    bool boolean(std::size_t slot) const { return convert(parseXMLBool(require(slot))); }

    // Drops the attributes that were read, leaving the residual ones.
    void removeTaken() {
        auto& entries = attributes_.entries();
        if (overflow_) {
            attributes_.eraseAll(names_->names);
            return;
        }
        if (taken_ == 0) return;
        std::size_t out = 0;
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (taken_ & (std::uint64_t{1} << e)) continue;
            if (out != e) entries[out] = std::move(entries[e]);
            ++out;
        }
        entries.resize(out);
        // Most elements keep no residual attribute; give the storage back now rather than carry it.
        if (entries.empty()) std::vector<QVXMLAttributes::Entry>().swap(entries);
    }

private:
    template <typename T>
    static T convert(std::optional<T> value) {
        if (!value) throw QVXMLDecodingError::attributeValueConversion();
        return *value;
    }

    QVXMLAttributes& attributes_;
    const AttributeNames<N>* names_ = nullptr;
    std::array<std::string*, N> values_{};
    std::uint64_t taken_ = 0;
    bool overflow_ = false;
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
