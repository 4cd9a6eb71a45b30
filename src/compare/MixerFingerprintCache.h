#pragma once

// The fingerprints of mixers' presets that have been fetched, by mixer uid,
// preset name and the date the mixer lists with it. A mixer gives a preset a
// new date when it stores it, so an entry whose date no longer matches the
// listed one is stale and not used; a preset a mixer lists without a date is
// trusted under its name alone (the mixer gives nothing else to go by).
//
// On disk: one JSON document in the application's cache folder, shared by
// the desktop application and `zelto`. save() merges what is in memory with
// what another process saved meanwhile (under an flock of "<file>.lock"),
// keeps at most maxEntries (those used longest ago go first) and replaces
// the file by renaming a complete temporary file over it. A file that does
// not read as ours is ignored (damaged() tells, a warning is logged once) and
// rewritten whole by the next save().
//
// Threads: one object may be used from several threads (it holds a mutex).
// The constructor and save() do blocking file I/O.
// Errors: none thrown; save() returns false (and logs) when it cannot write.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "compare/Fingerprint.h"
#include "device/RemoteZeltoPreset.h"

namespace zelto {

class MixerFingerprintCache {
  public:
    static constexpr const char* kFileName = "preset-fingerprints.json";
    static constexpr std::size_t kDefaultMaxEntries = 50'000;

    // What QStandardPaths::CacheLocation is for the desktop application
    // (organisation "Zelto", application "zelto-presets"), worked out without
    // Qt: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache; then
    // "/Zelto/zelto-presets". No trailing '/'.
    static std::string applicationCacheFolder();
    // applicationCacheFolder() + "/" + kFileName.
    static std::string defaultPath();

    // Reads `path` (nothing there: an empty cache).
    explicit MixerFingerprintCache(std::string path = defaultPath(),
                                   std::size_t maxEntries = kDefaultMaxEntries);

    const std::string& path() const { return path_; }
    // The file was there but not readable as a cache: it was ignored.
    bool damaged() const;
    std::size_t size() const;

    // The fingerprint of the preset `listed` (name and date as the mixer
    // lists it) on the mixer `uid`; none when unknown or stale.
    std::optional<Fingerprint> lookup(const std::string& uid, const RemoteZeltoPreset& listed);
    // Remembers a fetched preset's fingerprint, replacing any entry of that
    // mixer and name (whatever its date).
    void record(const std::string& uid, const RemoteZeltoPreset& listed, const Fingerprint& fingerprint);

    // Writes the cache (see above); creates the folder. True when written.
    bool save();

  private:
    struct Entry {
        std::string uid, name;
        std::optional<std::string> date;  // ISO text as listed
        Fingerprint fingerprint;
        std::int64_t used = 0;  // seconds since the epoch of the last lookup hit or record
    };
    using Map = std::unordered_map<std::string, Entry>;  // by uid + '\n' + name
    static std::string keyOf(const std::string& uid, const std::string& name);
    // Entries of the file at `path`; none when missing or damaged (`damaged` set).
    static Map readFile(const std::string& path, bool& damaged);
    void trim(Map& entries) const;

    std::string path_;
    std::size_t maxEntries_;
    mutable std::mutex mutex_;
    Map entries_;
    // Recorded by this object since it last read or wrote the file: only
    // these replace what another process saved under the same key.
    std::unordered_set<std::string> recorded_;
    bool damaged_ = false;
};

}  // namespace zelto
