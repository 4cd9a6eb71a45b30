#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zelto {

using PresetDate = std::chrono::system_clock::time_point;

// ISO 8601 with milliseconds in UTC, e.g. 2021-05-01T10:00:00.000Z.
std::string formatIsoDate(PresetDate date);

// Reads YYYY-MM-DDTHH:MM:SS.mmm followed by Z or +HH:MM / -HH:MM; the whole
// text must be that and every field in range, else none.
std::optional<PresetDate> parseIsoDate(std::string_view text);

}  // namespace zelto
