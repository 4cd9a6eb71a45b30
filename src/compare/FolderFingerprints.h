#pragma once

// The fingerprints of the sync folder's presets, taken when the folder is
// listed and kept in memory by file path, size and modification time: a file
// is read and hashed again only when one of those changed (or it is new).
// Files that vanished from a listing are forgotten.
//
// Threads: one object may be used from several threads (it holds a mutex);
// list() does blocking file I/O, so callers that must not wait for a disk run
// it on a file executor.
// Errors: list() throws std::filesystem::filesystem_error when the folder
// cannot be listed. A file that cannot be read or does not inflate gets no
// fingerprint (ListedFolderPreset::fingerprint is empty); it is no error.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "compare/Fingerprint.h"
#include "device/RemoteZeltoPreset.h"

namespace zelto {

struct ListedPreset {
    RemoteZeltoPreset preset;                // name and date as the source lists it, no bytes
    std::optional<Fingerprint> fingerprint;  // none: not known
};

class FolderFingerprints {
  public:
    // The presets of `folder` (as ZeltoPresetManager::localPresetList names
    // them), each with its fingerprint.
    std::vector<ListedPreset> list(const std::string& folder);

    // How many files were read and hashed so far (the rest came from memory).
    std::size_t filesHashed() const;

  private:
    struct Entry {
        std::uintmax_t size = 0;
        std::int64_t modified = 0;  // nanoseconds since the file clock's epoch
        std::optional<Fingerprint> fingerprint;
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> byPath_;
    std::size_t hashed_ = 0;
};

}  // namespace zelto
