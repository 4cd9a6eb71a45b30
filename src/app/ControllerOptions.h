#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "device/ZeltoTimings.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

// How the application reaches the network; the defaults are the protocol's.
struct ControllerOptions {
    // Mixers asked directly on every discovery pass, besides those stored in
    // the settings (the program's command line).
    std::vector<std::string> hosts;
    // No broadcast at all: only the hosts above and in the settings are asked.
    bool noBroadcast = false;
    std::uint16_t firstListenPort = 9112;
    // Where discovery answers come back (tests may move it).
    std::uint16_t discoveryPort = 9999;
    ZeltoTimings timings;
    std::uint64_t discoveryStartTimeout = 1'000'000'000;
    std::uint64_t connectTimeout = 10'000'000'000;
    std::uint64_t presetListTimeout = 1'000'000'000;
    ZeltoPresetManager::Timeouts managerTimeouts;
    // The first pause before a mixer whose connect or list failed is tried
    // again; each further failure doubles it, up to the discovery interval.
    std::chrono::milliseconds retryPause = std::chrono::seconds(1);
    // Changes to the sync folder made by other programs are read once the
    // folder has been quiet this long.
    std::chrono::milliseconds folderSettle = std::chrono::milliseconds(300);
    // Watch the network and rediscover on every change.
    bool monitorNetworkPath = true;
    // The file of the mixers' preset fingerprints; empty: the one in the
    // application's cache folder, shared with `zelto`.
    std::string fingerprintCachePath;
};

}  // namespace zelto
