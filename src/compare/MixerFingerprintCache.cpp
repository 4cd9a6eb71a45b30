#include "compare/MixerFingerprintCache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <vector>

#include "async/Log.h"
#include "device/IsoDate.h"
#include "sync/PresetFiles.h"

namespace zelto {

namespace {

using nlohmann::json;
constexpr const char* kFormat = "zelto-preset-fingerprints";
constexpr int kVersion = 1;

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::string> dateText(const RemoteZeltoPreset& preset) {
    if (!preset.date) return std::nullopt;
    return formatIsoDate(*preset.date);
}

// An flock held for the life of the object; not held when the file cannot be opened.
class FileLock {
  public:
    explicit FileLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

}  // namespace

std::string MixerFingerprintCache::applicationCacheFolder() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
        while (base.size() > 1 && base.back() == '/') base.pop_back();
    } else {
        base = presetfiles::homeDirectory() + "/.cache";
    }
    return base + "/Zelto/zelto-presets";
}

std::string MixerFingerprintCache::defaultPath() {
    return applicationCacheFolder() + "/" + kFileName;
}

MixerFingerprintCache::MixerFingerprintCache(std::string path, std::size_t maxEntries)
    : path_(std::move(path)), maxEntries_(std::max<std::size_t>(maxEntries, 1)) {
    entries_ = readFile(path_, damaged_);
}

std::string MixerFingerprintCache::keyOf(const std::string& uid, const std::string& name) {
    return uid + '\n' + name;
}

MixerFingerprintCache::Map MixerFingerprintCache::readFile(const std::string& path, bool& damaged) {
    Map entries;
    std::ifstream in(path, std::ios::binary);
    if (!in) return entries;
    try {
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const json doc = json::parse(text);
        if (!doc.is_object() || doc.value("format", "") != kFormat || doc.value("version", 0) != kVersion ||
            !doc.contains("entries") || !doc["entries"].is_array())
            throw std::runtime_error("not a fingerprint cache");
        for (const auto& e : doc["entries"]) {
            // A single entry that does not read is dropped; the rest stay.
            if (!e.is_object() || !e.contains("uid") || !e["uid"].is_string() || !e.contains("name") ||
                !e["name"].is_string() || !e.contains("fingerprint") || !e["fingerprint"].is_string())
                continue;
            auto fingerprint = Fingerprint::fromHex(e["fingerprint"].get<std::string>());
            if (!fingerprint) continue;
            Entry entry{e["uid"].get<std::string>(), e["name"].get<std::string>(), std::nullopt, *fingerprint,
                        0};
            if (e.contains("date") && e["date"].is_string()) entry.date = e["date"].get<std::string>();
            if (e.contains("used") && e["used"].is_number_integer())
                entry.used = e["used"].get<std::int64_t>();
            auto key = keyOf(entry.uid, entry.name);
            entries.insert_or_assign(std::move(key), std::move(entry));
        }
    } catch (const std::exception& error) {
        damaged = true;
        logFormat(LogCategory::sync, LogLevel::warning,
                  "the preset fingerprint cache %s does not read (%s); it is ignored and rebuilt",
                  path.c_str(), error.what());
        entries.clear();
    }
    return entries;
}

bool MixerFingerprintCache::damaged() const {
    std::lock_guard lock(mutex_);
    return damaged_;
}

std::size_t MixerFingerprintCache::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::optional<Fingerprint> MixerFingerprintCache::lookup(const std::string& uid,
                                                         const RemoteZeltoPreset& listed) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(keyOf(uid, listed.name));
    if (it == entries_.end() || it->second.date != dateText(listed)) return std::nullopt;
    it->second.used = nowSeconds();
    return it->second.fingerprint;
}

void MixerFingerprintCache::record(const std::string& uid, const RemoteZeltoPreset& listed,
                                   const Fingerprint& fingerprint) {
    std::lock_guard lock(mutex_);
    auto key = keyOf(uid, listed.name);
    recorded_.insert(key);
    entries_.insert_or_assign(std::move(key),
                              Entry{uid, listed.name, dateText(listed), fingerprint, nowSeconds()});
}

void MixerFingerprintCache::trim(Map& entries) const {
    if (entries.size() <= maxEntries_) return;
    std::vector<std::pair<std::int64_t, std::string>> byAge;
    byAge.reserve(entries.size());
    for (const auto& [key, entry] : entries) byAge.emplace_back(entry.used, key);
    std::sort(byAge.begin(), byAge.end());
    for (std::size_t i = 0; i + maxEntries_ < byAge.size(); ++i) entries.erase(byAge[i].second);
}

bool MixerFingerprintCache::save() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path_);
    fs::create_directories(target.parent_path(), ec);
    FileLock lock(path_ + ".lock");

    std::lock_guard guard(mutex_);
    // What another process saved since: its entries stay unless ours are newer.
    bool ignored = false;
    Map merged = readFile(path_, ignored);
    for (auto& [key, entry] : entries_) {
        auto it = merged.find(key);
        if (it == merged.end()) {
            merged.emplace(key, entry);
        } else if (recorded_.contains(key)) {
            if (it->second.used <= entry.used) it->second = entry;
        } else if (it->second.date == entry.date && it->second.fingerprint == entry.fingerprint) {
            it->second.used = std::max(it->second.used, entry.used);  // a lookup hit here
        }
    }
    trim(merged);

    json list = json::array();
    for (const auto& [key, e] : merged) {
        list.push_back({{"uid", e.uid},
                        {"name", e.name},
                        {"date", e.date ? json(*e.date) : json(nullptr)},
                        {"fingerprint", e.fingerprint.hex()},
                        {"used", e.used}});
    }
    const std::string text = json{{"format", kFormat}, {"version", kVersion}, {"entries", list}}.dump();
    const std::string temp = path_ + ".tmp." + std::to_string(::getpid());
    bool written = false;
    if (int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); fd >= 0) {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        written = done == text.size() && ::fsync(fd) == 0;
        written = ::close(fd) == 0 && written;
    }
    if (written) written = ::rename(temp.c_str(), path_.c_str()) == 0;
    if (!written) {
        ::unlink(temp.c_str());
        logFormat(LogCategory::sync, LogLevel::warning, "cannot write the preset fingerprint cache %s",
                  path_.c_str());
        return false;
    }
    entries_ = std::move(merged);
    recorded_.clear();
    damaged_ = false;
    return true;
}

}  // namespace zelto
