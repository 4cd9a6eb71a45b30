#include "compare/FolderFingerprints.h"

#include <sys/stat.h>

#include <unordered_set>

#include "sync/PresetFiles.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

namespace {

struct FileStamp {
    std::uintmax_t size = 0;
    std::int64_t modified = 0;
};

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileStamp{static_cast<std::uintmax_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::optional<Fingerprint> hashFile(const std::string& path) {
    auto content = presetfiles::readFile(path);
    if (!content || !content->bytes) return std::nullopt;
    try {
        return fingerprintOf(*content->bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::vector<ListedPreset> FolderFingerprints::list(const std::string& folderPath) {
    // Paths are joined as the manager joins them: the folder ends with '/'.
    std::string folder = folderPath;
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    std::vector<ListedPreset> result;
    std::unordered_set<std::string> seen;
    for (auto& preset : ZeltoPresetManager::localPresetList(folder)) {
        const std::string path = presetfiles::presetFilePath(folder, preset.name);
        seen.insert(path);
        ListedPreset listed{std::move(preset), std::nullopt};
        const auto stamp = stampOf(path);
        if (stamp) {
            {
                std::lock_guard lock(mutex_);
                auto it = byPath_.find(path);
                if (it != byPath_.end() && it->second.size == stamp->size &&
                    it->second.modified == stamp->modified)
                    listed.fingerprint = it->second.fingerprint;
                else
                    it = byPath_.end();
                if (it != byPath_.end()) {
                    result.push_back(std::move(listed));
                    continue;
                }
            }
            // Hashed outside the lock; a file written meanwhile has a new
            // stamp and is hashed again at the next listing.
            auto fingerprint = hashFile(path);
            std::lock_guard lock(mutex_);
            ++hashed_;
            byPath_[path] = Entry{stamp->size, stamp->modified, fingerprint};
            listed.fingerprint = fingerprint;
        }
        result.push_back(std::move(listed));
    }
    std::lock_guard lock(mutex_);
    std::erase_if(byPath_, [&](const auto& entry) {
        return entry.first.starts_with(folder) && !seen.contains(entry.first);
    });
    return result;
}

std::size_t FolderFingerprints::filesHashed() const {
    std::lock_guard lock(mutex_);
    return hashed_;
}

}  // namespace zelto
