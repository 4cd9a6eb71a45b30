#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osc/OSCAddress.h"

namespace zelto {

// An OSC 1.0 address pattern ("?", "*", "[a-z]", "[!a-z]", "{foo,bar}"),
// matched part by part between slashes.
class OSCAddressPattern {
  public:
    // The pattern, or none when `text` is not a valid pattern.
    static std::optional<OSCAddressPattern> make(std::string_view text);
    static bool isValid(std::string_view text) noexcept;

    const std::string& pattern() const noexcept { return pattern_; }
    // The text split at "/", without the empty text before the leading "/".
    const std::vector<std::string>& parts() const noexcept { return parts_; }

    bool matches(const OSCAddress& address) const noexcept;
    // One address part against one pattern part.
    static bool matches(std::string_view addressPart, std::string_view patternPart) noexcept;

    friend bool operator==(const OSCAddressPattern&, const OSCAddressPattern&) = default;

  private:
    explicit OSCAddressPattern(std::string_view text);

    std::string pattern_;
    std::vector<std::string> parts_;
};

}  // namespace zelto
