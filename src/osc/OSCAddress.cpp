#include "osc/OSCAddress.h"

#include "osc/OSCWire.h"

namespace zelto {

bool OSCAddress::isValid(std::string_view text) noexcept {
    return wire::isValidAddress(text);
}

std::optional<OSCAddress> OSCAddress::make(std::string_view text) {
    if (!isValid(text)) return std::nullopt;
    return OSCAddress(OSCBytes(text));
}

std::vector<std::string> OSCAddress::parts() const {
    std::vector<std::string> result;
    std::string_view text = address();
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = text.find('/', start);
        result.emplace_back(text.substr(start, slash == std::string_view::npos ? text.npos : slash - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return result;
}

std::optional<std::string_view> OSCAddress::partView(std::size_t index) const noexcept {
    std::string_view text = address();
    std::size_t start = 0;
    for (std::size_t i = 0;; ++i) {
        std::size_t slash = text.find('/', start);
        if (i == index)
            return text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
        if (slash == std::string_view::npos) return std::nullopt;
        start = slash + 1;
    }
}

std::optional<std::string> OSCAddress::part(std::size_t index) const {
    auto view = partView(index);
    if (!view) return std::nullopt;
    return std::string(*view);
}

std::vector<std::uint8_t> OSCAddress::encode() const {
    std::vector<std::uint8_t> out(oscSize());
    wire::writeText(out.data(), text_.data(), text_.size());
    return out;
}

}  // namespace zelto
