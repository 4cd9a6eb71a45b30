#include "app/PresetGrouping.h"

#include <QHash>
#include <QString>
#include <algorithm>

namespace zelto {

namespace {

QString folded(const std::string& text) {
    return QString::fromStdString(text).toLower();
}

template <class T, class Key>
void sortCaseInsensitive(std::vector<T>& items, Key key) {
    std::vector<std::pair<QString, T>> keyed;
    keyed.reserve(items.size());
    for (auto& item : items) keyed.emplace_back(folded(key(item)), std::move(item));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    items.clear();
    for (auto& [_, item] : keyed) items.push_back(std::move(item));
}

}  // namespace

std::optional<std::string> groupKey(const std::string& presetName) {
    const auto end = presetName.find_first_of("-_ .");
    if (end == std::string::npos) return std::nullopt;
    return presetName.substr(0, end);
}

bool lessCaseInsensitive(const std::string& a, const std::string& b) {
    return folded(a) < folded(b);
}

std::vector<PresetGroup> groupPresets(const std::vector<Preset>& presets) {
    std::vector<PresetGroup> groups;
    QHash<QString, std::size_t> groupOfKey;
    std::vector<Preset> ungrouped;
    for (const auto& preset : presets) {
        const auto key = groupKey(preset.preset.name);
        if (!key) {
            ungrouped.push_back(preset);
            continue;
        }
        const QString foldedKey = folded(*key);
        const auto found = groupOfKey.constFind(foldedKey);
        if (found != groupOfKey.constEnd()) {
            groups[*found].presets.push_back(preset);
        } else {
            groupOfKey.insert(foldedKey, groups.size());
            groups.push_back(PresetGroup{*key, {preset}});
        }
    }

    std::vector<PresetGroup> kept;
    for (auto& group : groups) {
        // A group keyed "others" would be a second heading of that name,
        // which a drag text ("/group/others") could not tell apart: its
        // presets join the catch-all group instead.
        if (group.presets.size() == 1 || folded(group.name) == QLatin1String(othersGroupName))
            for (auto& preset : group.presets) ungrouped.push_back(std::move(preset));
        else
            kept.push_back(std::move(group));
    }
    kept.push_back(PresetGroup{othersGroupName, std::move(ungrouped)});

    for (auto& group : kept)
        sortCaseInsensitive(group.presets,
                            [](const Preset& p) -> const std::string& { return p.preset.name; });
    sortCaseInsensitive(kept, [](const PresetGroup& g) -> const std::string& { return g.name; });
    return kept;
}

}  // namespace zelto
