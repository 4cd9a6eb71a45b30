#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelto {

// The mixer model; the raw value is the type text that mixers report.
enum class ZeltoDeviceType { marut, tessa, orvel, xmi, sendi };

// Exact, case-sensitive match of a raw value; anything else gives none.
std::optional<ZeltoDeviceType> zeltoDeviceTypeFromRawValue(std::string_view rawValue);
std::string rawValue(ZeltoDeviceType type);

}  // namespace zelto
