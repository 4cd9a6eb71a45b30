#include "compare/FetchRecording.h"

#include "device/ZeltoDevice.h"

namespace zelto {

std::string fingerprintOwner(const DevicePtr& device) {
    if (auto uid = device->uid(); uid && !uid->empty()) return *uid;
    return device->ip().to_string();
}

void recordFetchedFingerprints(ZeltoPresetManager& manager, std::shared_ptr<MixerFingerprintCache> cache) {
    manager.onFetched = [cache = std::move(cache)](const DevicePtr& device, const RemoteZeltoPreset& listed,
                                                   const RemoteZeltoPreset& fetched) {
        if (!device || !fetched.bytes) return;
        try {
            cache->record(fingerprintOwner(device), listed, fingerprintOf(*fetched.bytes));
        } catch (const std::exception&) {
            // Not a preset that inflates: nothing to remember.
        }
    };
}

}  // namespace zelto
