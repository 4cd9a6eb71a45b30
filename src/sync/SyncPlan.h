#pragma once

#include <string>
#include <vector>

#include "sync/ZeltoPresetManager.h"

namespace zelto {

// What a sync would move, worked out from the lists alone (nothing is sent):
// every name missing locally is fetched once, from the first device that
// lists it; afterwards every device receives each name it lacks. Names are
// matched as the sync matches them, and the built-in presets never move.
struct SyncPlan {
    struct Fetch {
        DevicePtr from;
        RemoteZeltoPreset preset;
    };
    struct Send {
        DevicePtr to;
        std::string name;
    };
    std::vector<Fetch> fetches;
    std::vector<Send> sends;
};

SyncPlan planSync(const std::vector<RemoteZeltoPreset>& localList, const RequiredPresets& deviceLists);

}  // namespace zelto
