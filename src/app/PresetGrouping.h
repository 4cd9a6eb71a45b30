#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/DataStore.h"

namespace zelto {

// The group that collects every preset sharing its name prefix with no other.
// The preset view shows its heading translated (this context).
inline constexpr const char* othersGroupName = QT_TRANSLATE_NOOP("PresetGrouping", "others");

// The text before the first "-", "_", " " or "." of a preset name; none for a
// name without any of them. A name that starts with a separator has the empty key.
std::optional<std::string> groupKey(const std::string& presetName);

// The preset view's groups: presets sharing a key (compared case-insensitively)
// form a group named as the key is written in the first of them; groups of one
// are dissolved into "others", which is always present and the only group
// of that name (presets whose key is "others" belong to it). Presets within a group
// and the groups themselves are sorted case-insensitively; ties keep their order.
std::vector<PresetGroup> groupPresets(const std::vector<Preset>& presets);

// Case-insensitive ordering used for presets and groups.
bool lessCaseInsensitive(const std::string& a, const std::string& b);

}  // namespace zelto
