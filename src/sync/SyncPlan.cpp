#include "sync/SyncPlan.h"

#include <set>

namespace zelto {

SyncPlan planSync(const std::vector<RemoteZeltoPreset>& localList, const RequiredPresets& deviceLists) {
    using Manager = ZeltoPresetManager;
    SyncPlan plan;
    // Each preset after the fetches, by its match key, with the name it is sent under.
    std::vector<std::pair<std::string, std::string>> afterFetch;
    std::set<std::string> known;
    for (const auto& preset : localList) {
        auto key = Manager::matchKey(preset.name);
        if (Manager::isBuiltInPreset(key) || !known.insert(key).second) continue;
        afterFetch.emplace_back(key, RemoteZeltoPreset(preset.name).name);
    }
    for (const auto& [device, list] : deviceLists) {
        for (const auto& preset : list) {
            auto key = Manager::matchKey(preset.name);
            if (Manager::isBuiltInPreset(key) || !known.insert(key).second) continue;
            plan.fetches.push_back({device, preset});
            afterFetch.emplace_back(key, preset.name);
        }
    }
    for (const auto& [key, name] : afterFetch) {
        for (const auto& [device, list] : deviceLists) {
            bool holds = false;
            for (const auto& preset : list) holds = holds || Manager::matchKey(preset.name) == key;
            if (!holds) plan.sends.push_back({device, name});
        }
    }
    return plan;
}

}  // namespace zelto
