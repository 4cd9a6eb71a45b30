#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osc/OSCBytes.h"

namespace zelto {

namespace detail {
struct OSCDecodeContext;
}

// A valid OSC address such as "/ZELTOapp/control/PresetList".
class OSCAddress {
  public:
    // The address for `text`, or none when the text is not a valid address.
    static std::optional<OSCAddress> make(std::string_view text);
    // Not empty, starts with "/", no empty part, printable ASCII, none of ` #*,/?[]{}` in a part.
    static bool isValid(std::string_view text) noexcept;

    std::string_view address() const noexcept { return text_.view(); }
    // The text split at every "/": the first part is the empty text before the leading "/".
    std::vector<std::string> parts() const;
    // parts()[index], or none when index is past the end.
    std::optional<std::string> part(std::size_t index) const;
    // The part parsed as a decimal integer of type T, or none.
    template <std::integral T>
    std::optional<T> partAs(std::size_t index) const;

    std::vector<std::uint8_t> encode() const;
    std::size_t oscSize() const noexcept { return (text_.size() / 4 + 1) * 4; }
    std::string description() const { return std::string(address()); }

    friend bool operator==(const OSCAddress& a, const OSCAddress& b) noexcept { return a.text_ == b.text_; }

  private:
    OSCAddress() noexcept = default;
    explicit OSCAddress(OSCBytes text) noexcept : text_(std::move(text)) {}
    std::optional<std::string_view> partView(std::size_t index) const noexcept;
    friend class OSCMessage;
    friend struct detail::OSCDecodeContext;

    OSCBytes text_;
};

template <std::integral T>
std::optional<T> OSCAddress::partAs(std::size_t index) const {
    auto part = partView(index);
    if (!part || part->empty()) return std::nullopt;
    T value{};
    const char* first = part->data();
    const char* last = first + part->size();
    if (*first == '+' && part->size() > 1 && part->at(1) >= '0' && part->at(1) <= '9') ++first;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return value;
}

}  // namespace zelto
