#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelto::cli {

enum ExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };
// diff and status answer a question: 0 "the same", 1 "something differs or is
// missing"; so that a script can tell that answer from a run that could not
// find it out, their errors (a mixer that does not answer, a fetch that
// fails, a file that does not read) exit with this.
inline constexpr int kTrouble = 3;

// How a command finds its mixers.
struct NetworkOptions {
    std::vector<std::string> hosts;
    bool noBroadcast = false;
    double timeoutSeconds = 3.0;
};

struct DiscoverArgs {
    NetworkOptions net;
    bool json = false;
};

struct ListArgs {
    NetworkOptions net;
    std::vector<std::string> sources;
    std::optional<std::string> dir;
    bool json = false;
};

struct SyncArgs {
    NetworkOptions net;
    std::optional<std::string> dir;
    bool dryRun = false;
    bool verify = false;
};

struct CopyArgs {
    NetworkOptions net;
    std::string name, from, to;
    std::optional<std::string> dir;
    bool force = false;
    bool verify = false;
};

struct LoadArgs {
    NetworkOptions net;
    std::string name, on;
    bool yes = false;
};

struct DeleteArgs {
    NetworkOptions net;
    std::string name, from;
    std::optional<std::string> dir;
    bool force = false;
};

struct HistoryArgs {
    std::optional<std::string> name;
    std::optional<std::string> dir;
    bool json = false;
};

struct RestoreArgs {
    NetworkOptions net;
    std::string name, to;
    std::optional<std::uint64_t> version;
    std::optional<std::string> dir;
};

struct UndoArgs {
    NetworkOptions net;
    std::optional<std::string> dir;
};

struct SourceArgs {
    NetworkOptions net;
    std::string source;
    bool json = false;
};

struct DiffArgs {
    NetworkOptions net;
    std::string left, right;  // SOURCE:NAME or a file path
    std::optional<std::string> dir;
    bool json = false;
    bool all = false;
};

struct StatusArgs {
    NetworkOptions net;
    std::optional<std::string> dir;
    bool json = false;
    bool differencesOnly = false;
    bool noFetch = false;
};

int runDiscover(const DiscoverArgs& args);
int runDiff(const DiffArgs& args);
int runStatus(const StatusArgs& args);
int runList(const ListArgs& args);
int runSync(const SyncArgs& args);
int runCopy(const CopyArgs& args);
int runLoad(const LoadArgs& args);
int runDelete(const DeleteArgs& args);
int runHistory(const HistoryArgs& args);
int runRestore(const RestoreArgs& args);
int runUndo(const UndoArgs& args);
int runIdentify(const SourceArgs& args);
int runInfo(const SourceArgs& args);
int runShow(const std::string& file);
int runPack(const std::string& file, const std::string& out);

// The folder a command works on: --dir, else the default sync folder.
std::string syncFolder(const std::optional<std::string>& dir);

}  // namespace zelto::cli
