#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// Plain file operations behind the local preset directory. Names arrive from
// mixers, so every name is checked before it becomes part of a path, and a
// preset file is replaced only by renaming a complete temporary file over it.
namespace zelto::presetfiles {

using Clock = std::chrono::system_clock;

inline constexpr std::string_view kExtension = "ZELTOshow";
inline constexpr std::string_view kSuffix = ".ZELTOshow";
// Presets are around 100 KB; anything far larger is not a preset and is not
// read into memory.
inline constexpr std::uintmax_t kMaxPresetFileSize = 64u * 1024u * 1024u;

// True when `name` + ".ZELTOshow" is a single, ordinary entry of a folder:
// not empty, not "." or "..", no '/', '\\', NUL or other control character,
// and short enough for the file system.
bool isSafePresetName(std::string_view name);

// Joins a folder path and a preset name the way the sync folder stores it.
std::string presetFilePath(std::string_view folder, std::string_view name);

struct ListedFile {
    std::string name;  // without ".ZELTOshow"
    std::optional<Clock::time_point> modified;
};

// Entries whose extension is exactly "ZELTOshow" and that are not folders
// (the hidden history folder and anything else stays out), in the order the
// file system lists them. Throws std::filesystem::filesystem_error.
std::vector<ListedFile> listFolder(const std::string& folder);

struct FileContent {
    std::optional<Clock::time_point> modified;
    std::optional<std::vector<std::uint8_t>> bytes;  // none when unreadable or too large
};

// Reads a file; none when nothing exists at the path.
std::optional<FileContent> readFile(const std::string& path);

// Writes `bytes` to folder/fileName through a temporary file in the same
// folder and a rename, so an existing file (or a symbolic link in its place)
// is replaced whole or not at all. The file gets `modified` as its
// modification time. `replaced` tells whether something was there before.
// When something is, `keepOld` (if given) is called once the new file is
// complete and right before the rename over the old one; when it returns
// false nothing is replaced and the result is operation_canceled.
std::error_code writeFileAtomically(const std::string& folder, const std::string& fileName,
                                    const std::vector<std::uint8_t>& bytes, Clock::time_point modified,
                                    bool& replaced, const std::function<bool()>& keepOld = {});

// Called before every listing, read and write of a preset folder (none by
// default). Tests put a slow disk in with it; set it while no folder
// operation runs.
void setAccessHook(std::function<void()> hook);

// Home folder of the current user, without a trailing '/'.
std::string homeDirectory();

}  // namespace zelto::presetfiles
