#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/IsoDate.h"
#include "preset/ZeltoPreset.h"

namespace zelto {

// A preset as a source names it: plain name, optional date (carried in listed
// names as the suffix " *[<ISO 8601 date>]"), optional version, optional bytes.
class RemoteZeltoPreset {
  public:
    using Bytes = std::vector<std::uint8_t>;

    RemoteZeltoPreset() = default;
    // Splits a valid date suffix off `name`.
    explicit RemoteZeltoPreset(const std::string& name);

    std::string name;
    std::optional<std::string> version;
    std::optional<PresetDate> date;
    std::optional<Bytes> bytes;

    // The name with " *[date]" appended when there is a date.
    std::string extendedName() const;
    // extendedName, a blank, the byte count and " bytes".
    std::string description() const;

    // The preset document read from `bytes` (a zlib stream is inflated
    // first); none without bytes. The XML and zlib errors are thrown unchanged.
    std::optional<ZeltoPreset> parse() const;

    // Same name and same date (two absent dates are equal); version and bytes are ignored.
    friend bool operator==(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b);
    // Only presets of the same name that both carry a date are ordered, by date.
    friend bool operator<(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b);
    friend bool operator>(const RemoteZeltoPreset& a, const RemoteZeltoPreset& b);
};

}  // namespace zelto
