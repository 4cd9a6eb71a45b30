#pragma once

// Makes a manager record the fingerprint of every preset it fetches (by a
// sync, a copy, a verify or a compare) in a mixer fingerprint cache, under
// the mixer's uid and the name and date it listed. Saving the cache stays
// with the caller (MixerFingerprintCache::save, after the run).
//
// Threads: the hook runs on the manager's executor; the cache locks itself.
// Errors: a fetched preset that does not inflate is not recorded.
#include <memory>
#include <string>

#include "compare/MixerFingerprintCache.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

// The key a mixer's fingerprints are kept under: its uid, else its address.
std::string fingerprintOwner(const DevicePtr& device);

// Sets manager.onFetched (replacing what was there).
void recordFetchedFingerprints(ZeltoPresetManager& manager, std::shared_ptr<MixerFingerprintCache> cache);

}  // namespace zelto
