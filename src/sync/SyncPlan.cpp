#include "sync/SyncPlan.h"

#include <set>
#include <unordered_set>

namespace zelto {

SyncPlan planSync(const std::vector<RemoteZeltoPreset>& localList, const RequiredPresets& deviceLists) {
    using Manager = ZeltoPresetManager;
    SyncPlan plan;
    // Each preset after the fetches, by its match key, which is also the name it is sent under.
    std::vector<std::pair<std::string, std::string>> afterFetch;
    std::set<std::string> known;
    for (const auto& preset : localList) {
        auto key = Manager::matchKey(preset.name);
        if (Manager::isBuiltInPreset(key) || !known.insert(key).second) continue;
        afterFetch.emplace_back(key, key);
    }
    for (const auto& [device, list] : deviceLists) {
        for (const auto& preset : list) {
            auto key = Manager::matchKey(preset.name);
            if (Manager::isBuiltInPreset(key) || !known.insert(key).second) continue;
            plan.fetches.push_back({device, preset});
            afterFetch.emplace_back(key, key);
        }
    }
    std::vector<std::unordered_set<std::string>> deviceKeys;
    for (const auto& entry : deviceLists) deviceKeys.push_back(Manager::matchKeys(entry.second));
    for (const auto& [key, name] : afterFetch) {
        for (std::size_t d = 0; d < deviceLists.size(); ++d)
            if (!deviceKeys[d].contains(key)) plan.sends.push_back({deviceLists[d].first, name});
    }
    return plan;
}

}  // namespace zelto
