#include "sync/History.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#define XXH_STATIC_LINKING_ONLY  // XXH3_state_t on the stack
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "async/Log.h"
#include "sync/PresetFiles.h"

namespace zelto {

using nlohmann::json;
using Clock = std::chrono::system_clock;

namespace {

std::function<void(int)> stepHook;
void step(int k) {
    if (stepHook) stepHook(k);
}

std::string errnoText() {
    return std::strerror(errno);
}

[[noreturn]] void fail(HistoryError::Case c, std::string detail) {
    logFormat(LogCategory::sync, LogLevel::critical, "history: %s", detail.c_str());
    throw HistoryError(c, std::move(detail));
}

std::string hexOf(XXH128_hash_t hash) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : canonical.digest) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

std::string hashOf(const std::vector<std::uint8_t>& bytes) {
    return hexOf(XXH3_128bits(bytes.data(), bytes.size()));
}

// The hash of a regular file, read in pieces (a mapping costs more than the
// copy for files of preset size), and what it was when read (`st`); none when
// it cannot be opened, is no regular file or is too large.
std::optional<std::string> hashFile(const std::string& path, struct stat& st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> hash;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uintmax_t>(st.st_size) <= presetfiles::kMaxPresetFileSize) {
        XXH3_state_t state;
        XXH3_128bits_reset(&state);
        static thread_local std::vector<char> buffer(256 * 1024);
        std::uintmax_t total = 0;
        for (;;) {
            ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                if (got == 0 && total == static_cast<std::uintmax_t>(st.st_size)) hash = hexOf(XXH3_128bits_digest(&state));
                break;
            }
            total += static_cast<std::uintmax_t>(got);
            XXH3_128bits_update(&state, buffer.data(), static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return hash;
}

bool isHash(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string formatTime(Clock::time_point t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    long rest = static_cast<long>(ms % 1000);
    if (rest < 0) rest += 1000, --secs;
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, rest);
    return text;
}

std::optional<Clock::time_point> parseTime(const std::string& text) {
    std::tm tm{};
    int ms = 0;
    char z = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms, &z) != 8 ||
        z != 'Z')
        return std::nullopt;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return Clock::from_time_t(::timegm(&tm)) + std::chrono::milliseconds(ms);
}

std::optional<HistoryEvent> eventNamed(const std::string& name) {
    for (auto e : {HistoryEvent::replaced, HistoryEvent::deleted, HistoryEvent::added}) {
        if (name == historyEventName(e)) return e;
    }
    return std::nullopt;
}

json toJson(const HistoryEntry& e) {
    json j = {{"id", e.id},
              {"event", historyEventName(e.event)},
              {"name", e.name},
              {"time", formatTime(e.time)},
              {"reason", e.reason},
              {"operation", e.operation.id},
              {"kind", e.operation.kind}};
    if (!e.operation.undoes.empty()) j["undoes"] = e.operation.undoes;
    if (e.location.mixer) {
        j["where"] = {{"mixer", e.location.name},
                      {"serial", e.location.serial},
                      {"uid", e.location.uid},
                      {"address", e.location.address}};
    } else {
        j["where"] = "local";
    }
    if (e.holdsBytes()) j["object"] = e.object, j["size"] = e.size;
    if (e.presetDate) j["date"] = formatTime(*e.presetDate);
    return j;
}

std::optional<HistoryEntry> fromJson(std::string_view line) {
    json j = json::parse(line, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    try {
        HistoryEntry e;
        e.id = j.at("id").get<std::uint64_t>();
        auto event = eventNamed(j.at("event").get<std::string>());
        auto time = parseTime(j.at("time").get<std::string>());
        if (!event || !time || e.id == 0) return std::nullopt;
        e.event = *event;
        e.time = *time;
        e.name = j.at("name").get<std::string>();
        e.reason = j.value("reason", "");
        e.operation.id = j.at("operation").get<std::string>();
        e.operation.kind = j.value("kind", "");
        e.operation.undoes = j.value("undoes", "");
        const json& where = j.at("where");
        if (where.is_object()) {
            e.location.mixer = true;
            e.location.name = where.value("mixer", "");
            e.location.serial = where.value("serial", "");
            e.location.uid = where.value("uid", "");
            e.location.address = where.value("address", "");
        } else if (where != "local") {
            return std::nullopt;
        }
        if (j.contains("object")) {
            e.object = j.at("object").get<std::string>();
            e.size = j.at("size").get<std::uint64_t>();
            if (!isHash(e.object)) return std::nullopt;
        }
        if (e.event != HistoryEvent::added && !e.holdsBytes()) return std::nullopt;
        if (j.contains("date")) e.presetDate = parseTime(j.at("date").get<std::string>());
        return e;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

const char* HistoryError::what() const noexcept {
    switch (case_) {
        case Case::unavailable:
            return "historyUnavailable";
        case Case::damaged:
            return "historyDamaged";
        case Case::missingObject:
            return "historyMissingObject";
        case Case::ioError:
            return "historyIoError";
        case Case::noSuchEntry:
            return "historyNoSuchEntry";
    }
    return "HistoryError";
}

const char* historyEventName(HistoryEvent event) {
    switch (event) {
        case HistoryEvent::replaced:
            return "replaced";
        case HistoryEvent::deleted:
            return "deleted";
        case HistoryEvent::added:
            return "added";
    }
    return "?";
}

std::string HistoryLocation::describe() const {
    if (!mixer) return "local";
    std::string text = "mixer " + (name.empty() ? address : name);
    if (!serial.empty() || !uid.empty()) text += " (serial " + serial + ", uid " + uid + ")";
    return text;
}

bool HistoryLocation::sameAs(const HistoryLocation& other) const {
    if (mixer != other.mixer) return false;
    if (!mixer) return true;
    if (!uid.empty() || !other.uid.empty()) return uid == other.uid;
    if (!serial.empty() || !other.serial.empty()) return serial == other.serial;
    return address == other.address;
}

HistoryOperation HistoryOperation::make(std::string kind, std::string undoes) {
    static std::atomic<unsigned> counter{0};
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
    HistoryOperation op;
    op.id = std::to_string(ms) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    op.kind = std::move(kind);
    op.undoes = std::move(undoes);
    return op;
}

void History::setStepHook(std::function<void(int)> hook) {
    stepHook = std::move(hook);
}

// The cross-process lock: an flock on "lock", held for this object's life.
// The file stays open in the History between uses: opening it each time
// would cost a replace three system calls instead of two.
struct History::Lock {
    explicit Lock(History& history) : fd(history.lockFd()) {
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) fail(HistoryError::Case::ioError, "cannot lock " + history.root_ + "/lock: " + errnoText());
        }
    }
    ~Lock() { ::flock(fd, LOCK_UN); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    int fd;
};

int History::lockFd() {
    if (lockFd_ < 0) {
        lockFd_ = ::open((root_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd_ < 0) fail(HistoryError::Case::ioError, "cannot open " + root_ + "/lock: " + errnoText());
    }
    return lockFd_;
}

History::History(std::string syncFolder, HistoryLimits limits) : sync_(std::move(syncFolder)), limits_(limits) {
    if (sync_.empty() || sync_.back() != '/') sync_.push_back('/');
    root_ = sync_ + std::string(kFolderName);
}

std::string History::objectPath(const std::string& hash) const {
    return root_ + "/objects/" + hash;
}

void History::ensureFolder() {
    if (folderReady_) return;
    for (const std::string& dir : {root_, root_ + "/objects"}) {
        struct stat st {};
        if (::lstat(dir.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                fail(HistoryError::Case::unavailable,
                     dir + " is not a folder; the history is left alone and no old version can be kept");
            continue;
        }
        if (errno != ENOENT || (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST))
            fail(HistoryError::Case::unavailable, "cannot create " + dir + ": " + errnoText());
    }
    folderReady_ = true;
}

void History::refresh() {
    const std::string path = root_ + "/journal";
    struct stat st {};
    if (::lstat(root_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        fail(HistoryError::Case::unavailable, root_ + " is not a folder; the history is left alone");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) fail(HistoryError::Case::ioError, "cannot read " + path + ": " + errnoText());
        cache_.clear();
        lastId_ = readOffset_ = journalInode_ = 0;
        damaged_ = 0;
        return;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(HistoryError::Case::unavailable, path + " is not a journal file");
    }
    if (static_cast<std::uint64_t>(st.st_ino) != journalInode_ || static_cast<std::uint64_t>(st.st_size) < readOffset_) {
        cache_.clear();
        lastId_ = readOffset_ = 0;
        damaged_ = 0;
        journalInode_ = static_cast<std::uint64_t>(st.st_ino);
    }
    std::string text;
    text.resize(static_cast<std::size_t>(st.st_size) - readOffset_);
    ssize_t got = text.empty() ? 0 : ::pread(fd, text.data(), text.size(), static_cast<off_t>(readOffset_));
    ::close(fd);
    if (got < 0) fail(HistoryError::Case::ioError, "cannot read " + path + ": " + errnoText());
    text.resize(static_cast<std::size_t>(got));
    std::size_t start = 0;
    std::size_t before = damaged_;
    // Only whole lines: a torn last line (a writer killed mid-line) waits; the
    // next writer ends it with a line break, and it then reads as damaged.
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view line(text.data() + start, end - start);
        if (line.empty()) continue;
        auto entry = fromJson(line);
        if (!entry) {
            ++damaged_;
            continue;
        }
        lastId_ = std::max(lastId_, entry->id);
        cache_.push_back(std::move(*entry));
    }
    readOffset_ += start;
    if (damaged_ > before) {
        logFormat(LogCategory::sync, LogLevel::critical,
                  "history: %zu damaged line(s) in %s were skipped; the journal is left as it is", damaged_,
                  path.c_str());
    }
}

std::uint64_t History::append(HistoryEntry entry) {
    const std::string path = root_ + "/journal";
    Lock lock(*this);
    // Up to date when the journal is still the file this object last read to
    // its end: then nothing is read again.
    struct stat st {};
    bool current = ::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_ino) == journalInode_ &&
                   static_cast<std::uint64_t>(st.st_size) == readOffset_ && journalInode_ != 0;
    if (!current) refresh();
    entry.id = lastId_ + 1;
    std::string line = toJson(entry).dump() + "\n";
    if (appendFd_ >= 0 && appendInode_ != journalInode_) {
        ::close(appendFd_);
        appendFd_ = -1;
    }
    if (appendFd_ < 0) {
        appendFd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (appendFd_ < 0) fail(HistoryError::Case::ioError, "cannot open " + path + ": " + errnoText());
        if (::fstat(appendFd_, &st) != 0) fail(HistoryError::Case::ioError, "cannot read " + path + ": " + errnoText());
        appendInode_ = static_cast<std::uint64_t>(st.st_ino);
        if (journalInode_ != appendInode_) {
            // Created just now: nothing in it yet.
            cache_.clear();
            journalInode_ = appendInode_;
            readOffset_ = 0;
        }
    }
    // The stat above already describes the open journal when nothing changed
    // since this object last wrote it.
    if (!(current && appendInode_ == static_cast<std::uint64_t>(st.st_ino)) && ::fstat(appendFd_, &st) != 0)
        fail(HistoryError::Case::ioError, "cannot read " + path + ": " + errnoText());
    // A torn last line (a writer killed mid-line) is ended first, so that
    // this entry stands on a line of its own.
    bool caughtUp = static_cast<std::uint64_t>(st.st_size) == readOffset_;
    if (!caughtUp) line.insert(line.begin(), '\n');
    if (!writeAll(appendFd_, line.data(), line.size()))
        fail(HistoryError::Case::ioError, "cannot append to " + path + ": " + errnoText());
    if (caughtUp) {
        readOffset_ += line.size();
        lastId_ = entry.id;
        cache_.push_back(entry);
    }
    return entry.id;
}

History::~History() {
    if (appendFd_ >= 0) ::close(appendFd_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string History::storeBytes(const std::vector<std::uint8_t>& bytes) {
    std::string hash = hashOf(bytes);
    std::string path = objectPath(hash);
    if (::access(path.c_str(), F_OK) == 0) return hash;
    std::string temp = root_ + "/objects/.new-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) fail(HistoryError::Case::ioError, "cannot create an object in " + root_ + ": " + errnoText());
    bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        std::string why = errnoText();
        ::unlink(temp.c_str());
        fail(HistoryError::Case::ioError, "cannot write " + path + ": " + why);
    }
    return hash;
}

std::uint64_t History::keepFolderFile(const std::string& name, HistoryEvent event, const std::string& reason,
                                      const HistoryOperation& operation) {
    std::lock_guard guard(mutex_);
    ensureFolder();
    const std::string path = presetfiles::presetFilePath(sync_, name);
    struct stat before {};
    auto hashed = hashFile(path, before);
    if (!hashed && ::lstat(path.c_str(), &before) != 0)
        fail(HistoryError::Case::noSuchEntry, "no file " + path + " to keep: " + errnoText());
    HistoryEntry entry;
    entry.event = event;
    entry.name = name;
    entry.time = Clock::now();
    entry.reason = reason;
    entry.operation = operation;
    std::optional<presetfiles::FileContent> content;
    if (hashed) {
        entry.object = *hashed;
        entry.size = static_cast<std::uint64_t>(before.st_size);
        entry.presetDate = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
            std::chrono::seconds(before.st_mtim.tv_sec) + std::chrono::nanoseconds(before.st_mtim.tv_nsec)));
    } else {
        content = presetfiles::readFile(path);
        if (!content || !content->bytes) fail(HistoryError::Case::ioError, "cannot read " + path + " to keep it");
        entry.size = content->bytes->size();
        entry.presetDate = content->modified;
        entry.object = hashOf(*content->bytes);
    }
    step(1);
    const std::string object = objectPath(entry.object);
    if (::access(object.c_str(), F_OK) != 0) {
        // The old file itself goes into the store: a hard link costs no copy,
        // and the rename over the name later drops only the folder's link. The
        // link is of the same file that was read only if nothing changed it.
        bool linked = S_ISREG(before.st_mode) && ::link(path.c_str(), object.c_str()) == 0;
        struct stat after {};
        if (linked && (::stat(object.c_str(), &after) != 0 || after.st_ino != before.st_ino ||
                       after.st_size != before.st_size || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                       after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)) {
            ::unlink(object.c_str());
            linked = false;
        }
        if (!linked) {
            if (!content) content = presetfiles::readFile(path);
            if (!content || !content->bytes || hashOf(*content->bytes) != entry.object)
                fail(HistoryError::Case::ioError, "cannot keep " + path + ": it changed while it was kept");
            storeBytes(*content->bytes);
        }
    }
    step(2);
    auto id = append(std::move(entry));
    step(3);
    return id;
}

std::uint64_t History::deleteFolderFile(const std::string& name, const std::string& reason,
                                        const HistoryOperation& operation) {
    auto id = keepFolderFile(name, HistoryEvent::deleted, reason, operation);
    const std::string path = presetfiles::presetFilePath(sync_, name);
    if (::unlink(path.c_str()) != 0)
        fail(HistoryError::Case::ioError, "kept, but cannot delete " + path + ": " + errnoText());
    step(4);
    return id;
}

std::uint64_t History::keepBytes(const std::string& name, const HistoryLocation& location,
                                 const std::vector<std::uint8_t>& bytes, HistoryEvent event,
                                 const std::string& reason, const HistoryOperation& operation,
                                 std::optional<Clock::time_point> presetDate) {
    std::lock_guard guard(mutex_);
    ensureFolder();
    HistoryEntry entry;
    entry.event = event;
    entry.name = name;
    entry.location = location;
    entry.time = Clock::now();
    entry.reason = reason;
    entry.operation = operation;
    entry.size = bytes.size();
    entry.presetDate = presetDate;
    entry.object = storeBytes(bytes);
    return append(std::move(entry));
}

std::uint64_t History::recordAdded(const std::string& name, const HistoryLocation& location,
                                   const std::string& reason, const HistoryOperation& operation) {
    std::lock_guard guard(mutex_);
    ensureFolder();
    HistoryEntry entry;
    entry.event = HistoryEvent::added;
    entry.name = name;
    entry.location = location;
    entry.time = Clock::now();
    entry.reason = reason;
    entry.operation = operation;
    return append(std::move(entry));
}

std::vector<HistoryEntry> History::entries(const std::optional<std::string>& name) {
    std::lock_guard guard(mutex_);
    refresh();
    if (!name) return cache_;
    std::vector<HistoryEntry> result;
    for (const auto& e : cache_) {
        if (e.name == *name) result.push_back(e);
    }
    return result;
}

std::optional<HistoryEntry> History::entry(std::uint64_t id) {
    for (auto& e : entries()) {
        if (e.id == id) return e;
    }
    return std::nullopt;
}

std::size_t History::damagedLines() {
    std::lock_guard guard(mutex_);
    refresh();
    return damaged_;
}

std::vector<std::uint8_t> History::bytesOf(const HistoryEntry& entry) {
    if (!entry.holdsBytes())
        throw HistoryError(HistoryError::Case::noSuchEntry,
                           "entry " + std::to_string(entry.id) + " records an added preset and holds no bytes");
    const std::string path = objectPath(entry.object);
    auto content = presetfiles::readFile(path);
    if (!content) fail(HistoryError::Case::missingObject, "the object " + path + " is missing");
    if (!content->bytes || hashOf(*content->bytes) != entry.object)
        fail(HistoryError::Case::damaged, "the object " + path + " does not hold what it was stored with");
    return std::move(*content->bytes);
}

std::optional<std::uint64_t> History::restoreToFolder(const HistoryEntry& entry,
                                                      const HistoryOperation& operation) {
    auto bytes = bytesOf(entry);
    const std::string reason = "replaced by a restore of version " + std::to_string(entry.id);
    std::optional<std::uint64_t> kept;
    bool replaced = false;
    std::exception_ptr keepError;
    auto ec = presetfiles::writeFileAtomically(
        sync_, entry.name + std::string(presetfiles::kSuffix), bytes, entry.presetDate.value_or(Clock::now()),
        replaced, [&] {
            try {
                kept = keepFolderFile(entry.name, HistoryEvent::replaced, reason, operation);
                return true;
            } catch (...) {
                keepError = std::current_exception();
                return false;
            }
        });
    if (keepError) std::rethrow_exception(keepError);
    if (ec) fail(HistoryError::Case::ioError, "cannot write " + entry.name + " into " + sync_ + ": " + ec.message());
    if (!replaced) recordAdded(entry.name, HistoryLocation::folder(), "added by a restore of version " + std::to_string(entry.id), operation);
    return kept;
}

std::optional<HistoryOperation> History::lastOperation() {
    auto all = entries();
    std::set<std::string> undone;
    for (const auto& e : all) {
        if (!e.operation.undoes.empty()) undone.insert(e.operation.undoes);
    }
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->operation.kind == "undo" || undone.count(it->operation.id)) continue;
        return it->operation;
    }
    return std::nullopt;
}

std::vector<HistoryEntry> History::entriesOf(const std::string& operationId) {
    std::vector<HistoryEntry> result;
    for (auto& e : entries()) {
        if (e.operation.id == operationId) result.push_back(std::move(e));
    }
    return result;
}

std::size_t History::prune(Clock::time_point now) {
    std::lock_guard guard(mutex_);
    struct stat st {};
    if (::lstat(root_.c_str(), &st) != 0) return 0;  // nothing kept yet
    Lock lock(*this);
    refresh();
    if (damaged_ > 0) return 0;
    const std::size_t n = cache_.size();
    std::vector<bool> keep(n, true);
    auto isProtected = [&](const HistoryEntry& e) {
        return e.event == HistoryEvent::deleted && now - e.time < limits_.keepDeleted;
    };
    std::map<std::string, std::size_t> versions;
    for (std::size_t i = n; i-- > 0;) {
        if (++versions[cache_[i].name] > limits_.versionsPerName && !isProtected(cache_[i])) keep[i] = false;
    }
    // Bytes in all: each object once, however many kept entries name it.
    std::map<std::string, std::pair<std::uint64_t, std::size_t>> objects;  // hash -> size, references
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!keep[i] || !cache_[i].holdsBytes()) continue;
        auto& [size, refs] = objects[cache_[i].object];
        if (refs++ == 0) size = cache_[i].size, total += size;
    }
    for (std::size_t i = 0; i < n && total > limits_.totalBytes; ++i) {
        if (!keep[i] || !cache_[i].holdsBytes() || isProtected(cache_[i])) continue;
        keep[i] = false;
        auto& [size, refs] = objects[cache_[i].object];
        if (--refs == 0) total -= size;
    }
    std::size_t dropped = static_cast<std::size_t>(std::count(keep.begin(), keep.end(), false));
    if (dropped == 0) return 0;

    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i]) text += toJson(cache_[i]).dump() + "\n";
    }
    const std::string journal = root_ + "/journal";
    std::string temp = root_ + "/.journal-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) fail(HistoryError::Case::ioError, "cannot rewrite " + journal + ": " + errnoText());
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), journal.c_str()) != 0) {
        std::string why = errnoText();
        ::unlink(temp.c_str());
        fail(HistoryError::Case::ioError, "cannot rewrite " + journal + ": " + why);
    }
    // Objects last: a crash before this leaves unreferenced objects, never an
    // entry without its bytes.
    std::set<std::string> referenced;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i] && cache_[i].holdsBytes()) referenced.insert(cache_[i].object);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!keep[i] && cache_[i].holdsBytes() && !referenced.count(cache_[i].object))
            ::unlink(objectPath(cache_[i].object).c_str());
    }
    journalInode_ = 0;  // re-read the new journal next time
    refresh();
    return dropped;
}

}  // namespace zelto
