#pragma once

// The history of the sync folder: every preset this program replaced or
// deleted, in the folder or on a mixer, and every preset an operation added
// where nothing was, so that any of them can be brought back and any
// operation undone.
//
// On disk, in the hidden folder ".zelto-history/" of the sync folder (it
// moves with the folder and is shared by every program that uses it):
//   objects/<32 hex digits>  preset bytes named by their XXH3-128 hash,
//                            stored once however often they are kept;
//   journal                  one JSON object per line, appended with
//                            O_APPEND under an flock of "lock"; a line that
//                            does not parse (a torn last line after a crash,
//                            or damage) is skipped and reported;
//   lock                     serialises writers across processes.
// Pruning rewrites the journal without the entries it drops (temporary file
// and rename, under the lock), then removes the objects no kept entry names.
// An object left without an entry by a crash is harmless and stays.
//
// Threads: one History object may be used from several threads (it holds a
// mutex); several processes may use one folder at once (the lock). Every
// call does blocking file I/O: the manager runs them on its file executor.
//
// Errors: HistoryError, whose case says why (a foreign file where the folder
// should be, a damaged journal, a missing object, an I/O failure); its
// detail() says where. Reading a damaged journal is no error: the damaged
// lines are skipped, counted in damagedLines() and logged once (category
// sync, warning).
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

class HistoryError : public std::exception {
  public:
    enum class Case {
        // Something else than a folder of ours is at .zelto-history.
        unavailable,
        // A journal line or an object does not hold what it should.
        damaged,
        // The entry names an object that is not there.
        missingObject,
        // Reading or writing a file failed (disk full, permissions, ...).
        ioError,
        // No such entry, or it holds no bytes (an "added" event).
        noSuchEntry,
    };
    HistoryError(Case c, std::string detail) : case_(c), detail_(std::move(detail)) {}
    Case errorCase() const noexcept { return case_; }
    const std::string& detail() const noexcept { return detail_; }
    const char* what() const noexcept override;

  private:
    Case case_;
    std::string detail_;
};

// Where a preset was: the sync folder, or a mixer named as it names itself.
struct HistoryLocation {
    bool mixer = false;
    std::string name, serial, uid, address;  // a mixer's; empty for the folder

    static HistoryLocation folder() { return {}; }
    // "local", or "mixer NAME (serial S, uid U)".
    std::string describe() const;
    // Same place: the folder, or a mixer with the same uid (else serial).
    bool sameAs(const HistoryLocation& other) const;
};

enum class HistoryEvent { replaced, deleted, added };
const char* historyEventName(HistoryEvent event);

// One run of the manager that changes presets: a copy, a sync, a delete, a
// restore, an undo. Undo finds every entry of an operation by its id.
struct HistoryOperation {
    std::string id;    // unique across processes and runs
    std::string kind;  // "copy", "sync", "delete", "restore", "undo"
    std::string undoes;  // for an undo: the operation it undoes

    static HistoryOperation make(std::string kind, std::string undoes = {});
};

struct HistoryEntry {
    std::uint64_t id = 0;  // grows with every entry, across processes
    HistoryEvent event = HistoryEvent::replaced;
    std::string name;
    HistoryLocation location;
    std::chrono::system_clock::time_point time;
    std::string reason;  // for people: "replaced by a copy from ...", "deleted", ...
    std::string object;  // hash of the kept bytes; empty for "added"
    std::uint64_t size = 0;
    std::optional<std::chrono::system_clock::time_point> presetDate;  // the kept file's date
    HistoryOperation operation;

    bool holdsBytes() const { return !object.empty(); }
};

struct HistoryLimits {
    std::size_t versionsPerName = 20;
    std::uint64_t totalBytes = 500ull * 1024 * 1024;
    // A deleted preset's only copy is kept at least this long, whatever the
    // limits say.
    std::chrono::hours keepDeleted = std::chrono::hours(24 * 30);
};

class History {
  public:
    static constexpr std::string_view kFolderName = ".zelto-history";

    explicit History(std::string syncFolder, HistoryLimits limits = {});
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    const std::string& folder() const { return root_; }
    const HistoryLimits& limits() const { return limits_; }

    // Keeps the folder's file NAME.ZELTOshow, which stays in place: a hard
    // link into the object store (a copy where links are refused), then the
    // journal entry. Called right before the file is replaced by a rename
    // over it, so at every instant the old bytes exist under one name or the
    // other. `event` is replaced or deleted.
    std::uint64_t keepFolderFile(const std::string& name, HistoryEvent event, const std::string& reason,
                                 const HistoryOperation& operation);
    // A delete from the folder: keeps the file, then removes it.
    std::uint64_t deleteFolderFile(const std::string& name, const std::string& reason,
                                   const HistoryOperation& operation);
    // Bytes fetched from a mixer, before the mixer's preset is replaced or
    // deleted.
    std::uint64_t keepBytes(const std::string& name, const HistoryLocation& location,
                            const std::vector<std::uint8_t>& bytes, HistoryEvent event,
                            const std::string& reason, const HistoryOperation& operation,
                            std::optional<std::chrono::system_clock::time_point> presetDate = {});
    // A preset an operation put where nothing of that name was.
    std::uint64_t recordAdded(const std::string& name, const HistoryLocation& location,
                              const std::string& reason, const HistoryOperation& operation);

    // Every readable entry, oldest first; only those of `name` when given.
    std::vector<HistoryEntry> entries(const std::optional<std::string>& name = std::nullopt);
    std::optional<HistoryEntry> entry(std::uint64_t id);
    // Journal lines that could not be read at the last read.
    std::size_t damagedLines();
    // The kept bytes, checked against their hash.
    std::vector<std::uint8_t> bytesOf(const HistoryEntry& entry);
    // Writes the entry's bytes back into the folder under its name (with its
    // date); a file of that name is kept first. Returns the new entry of what
    // it replaced, if anything was there.
    std::optional<std::uint64_t> restoreToFolder(const HistoryEntry& entry, const HistoryOperation& operation);
    // The newest operation that changed presets and was not undone since
    // (undos themselves are skipped); its entries in journal order.
    std::optional<HistoryOperation> lastOperation();
    std::vector<HistoryEntry> entriesOf(const std::string& operationId);

    // Applies the limits, oldest first. Returns how many entries it dropped.
    // A damaged journal is left alone (returns 0).
    std::size_t prune(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    // Tests: called with 1, 2, ... between the steps of a folder replace or
    // delete (process-wide; set it while no history is in use).
    static void setStepHook(std::function<void(int step)> hook);

  private:
    struct Lock;
    int lockFd();
    // Creates the folders once per object; a folder removed behind its back
    // later makes the next write fail with a clear error.
    void ensureFolder();
    std::string objectPath(const std::string& hash) const;
    // Stores bytes as an object (no-op when present); returns the hash.
    std::string storeBytes(const std::vector<std::uint8_t>& bytes);
    std::uint64_t append(HistoryEntry entry);
    void refresh();  // reads what other processes appended; under mutex_

    std::string sync_, root_;
    HistoryLimits limits_;
    std::mutex mutex_;
    std::vector<HistoryEntry> cache_;
    std::uint64_t lastId_ = 0;
    std::uint64_t readOffset_ = 0;
    std::uint64_t journalInode_ = 0;
    int appendFd_ = -1;  // the journal, kept open for appends
    std::uint64_t appendInode_ = 0;
    int lockFd_ = -1;  // "lock", kept open
    bool folderReady_ = false;
    std::size_t damaged_ = 0;
    bool reportedDamage_ = false;
};

}  // namespace zelto
