#include "sync/SyncPlan.h"

#include <set>

namespace zelto {

SyncPlan planSync(const std::vector<RemoteZeltoPreset>& localList, const RequiredPresets& deviceLists) {
    SyncPlan plan;
    std::vector<std::string> afterFetch;
    std::set<std::string> known;
    for (const auto& preset : localList) {
        if (known.insert(preset.name).second) afterFetch.push_back(preset.name);
    }
    for (const auto& [device, list] : deviceLists) {
        for (const auto& preset : list) {
            if (!known.insert(preset.name).second) continue;
            plan.fetches.push_back({device, preset});
            afterFetch.push_back(preset.name);
        }
    }
    for (const auto& name : afterFetch) {
        for (const auto& [device, list] : deviceLists) {
            bool holds = false;
            for (const auto& preset : list) holds = holds || preset.name == name;
            if (!holds) plan.sends.push_back({device, name});
        }
    }
    return plan;
}

}  // namespace zelto
