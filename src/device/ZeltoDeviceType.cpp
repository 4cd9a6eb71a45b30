#include "device/ZeltoDeviceType.h"

#include <array>
#include <utility>

namespace zelto {

namespace {
constexpr std::array<std::pair<ZeltoDeviceType, std::string_view>, 5> kRawValues{{
    {ZeltoDeviceType::marut, "ZELTO:marut"},
    {ZeltoDeviceType::tessa, "ZELTO:tessa"},
    {ZeltoDeviceType::orvel, "ZELTO:orvel"},
    {ZeltoDeviceType::xmi, "XMI-ZELTO"},
    {ZeltoDeviceType::sendi, "ZELTO:sendi"},
}};
}  // namespace

std::optional<ZeltoDeviceType> zeltoDeviceTypeFromRawValue(std::string_view text) {
    for (const auto& [type, raw] : kRawValues) {
        if (raw == text) return type;
    }
    return std::nullopt;
}

std::string rawValue(ZeltoDeviceType type) {
    for (const auto& [t, raw] : kRawValues) {
        if (t == type) return std::string(raw);
    }
    return {};
}

}  // namespace zelto
