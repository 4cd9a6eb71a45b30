// The commands that talk to mixers.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Mixers.h"
#include "StatusPrinter.h"
#include "compare/FetchRecording.h"
#include "preset/ZeltoPreset.h"
#include "sync/History.h"
#include "sync/SyncPlan.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto::cli {

using nlohmann::json;

namespace {

// Records the fingerprints of what a manager fetches in the cache shared
// with the desktop application, saved when the command ends.
class FingerprintRecording {
  public:
    explicit FingerprintRecording(ZeltoPresetManager& manager) : cache_(std::make_shared<MixerFingerprintCache>()) {
        recordFetchedFingerprints(manager, cache_);
    }
    ~FingerprintRecording() { cache_->save(); }
    FingerprintRecording(const FingerprintRecording&) = delete;
    FingerprintRecording& operator=(const FingerprintRecording&) = delete;

  private:
    std::shared_ptr<MixerFingerprintCache> cache_;
};

constexpr std::uint64_t kListTimeout = ZeltoPresetManager::kListTimeout;

std::string orEmpty(const std::optional<std::string>& text) {
    return text.value_or("");
}

json deviceJson(const DevicePtr& device) {
    auto type = device->type();
    return {{"address", device->ip().to_string()},
            {"uid", orEmpty(device->uid())},
            {"model", type ? rawValue(*type) : ""},
            {"name", orEmpty(device->name())},
            {"serialNumber", orEmpty(device->serialNumber())},
            {"version", orEmpty(device->version())},
            {"mixes", device->users().size()}};
}

json presetJson(const RemoteZeltoPreset& preset) {
    json j = {{"name", preset.name}};
    j["date"] = preset.date ? json(formatIsoDate(*preset.date)) : json(nullptr);
    return j;
}

bool isLocal(const std::string& source) {
    return source == "local";
}

// Connects what the command needs; prints why nothing was found.
bool findMixers(Mixers& mixers) {
    if (!mixers.discover()) return false;
    mixers.connectAll();
    return true;
}

// The mixer named by `source`, or an explanation on standard error.
DevicePtr needMixer(Mixers& mixers, const std::string& source) {
    if (auto device = mixers.resolve(source)) return device;
    std::cerr << "zelto: no mixer '" << source << "' among the " << mixers.devices().size()
              << " online; run 'zelto discover' to see their addresses, uids and names\n";
    return nullptr;
}

// A source argument: local (null device) or a mixer; false when unknown.
bool resolveSource(Mixers& mixers, const std::string& source, DevicePtr& device) {
    if (isLocal(source)) {
        device = nullptr;
        return true;
    }
    device = needMixer(mixers, source);
    return device != nullptr;
}

bool needsNetwork(std::initializer_list<std::string> sources) {
    for (auto& s : sources) {
        if (!isLocal(s)) return true;
    }
    return false;
}

std::optional<std::vector<RemoteZeltoPreset>> requestList(Mixers& mixers, const DevicePtr& device) {
    try {
        return mixers.run(device->requestPresetList(kListTimeout));
    } catch (const std::exception& e) {
        std::cerr << "zelto: the preset list of " << Mixers::label(device) << " did not arrive (" << e.what()
                  << "); try again\n";
        return std::nullopt;
    }
}

std::optional<std::vector<RemoteZeltoPreset>> localList(const std::string& folder) {
    try {
        return ZeltoPresetManager::localPresetList(folder);
    } catch (const std::exception& e) {
        std::cerr << "zelto: cannot list the sync folder " << folder << " (" << e.what()
                  << "); create it or pass another one with --dir\n";
        return std::nullopt;
    }
}

bool holds(const std::vector<RemoteZeltoPreset>& list, const std::string& name) {
    for (auto& p : list) {
        if (p.name == name) return true;
    }
    return false;
}

}  // namespace

std::string syncFolder(const std::optional<std::string>& dir) {
    std::string folder = dir ? *dir : defaultSyncDirectoryPath();
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

int runDiscover(const DiscoverArgs& args) {
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    const auto& devices = mixers.devices();
    // A mixer introduces each mix in a message of its own; they have all
    // arrived once a later answer has.
    mixers.flush(devices);
    if (args.json) {
        json list = json::array();
        for (auto& d : devices) list.push_back(deviceJson(d));
        std::cout << json{{"mixers", list}}.dump(2) << "\n";
    } else {
        std::cout << "ADDRESS\tUID\tMODEL\tNAME\tSERIAL\tVERSION\tMIXES\n";
        for (auto& d : devices) {
            auto j = deviceJson(d);
            std::cout << j["address"].get<std::string>() << '\t' << j["uid"].get<std::string>() << '\t'
                      << j["model"].get<std::string>() << '\t' << j["name"].get<std::string>() << '\t'
                      << j["serialNumber"].get<std::string>() << '\t' << j["version"].get<std::string>()
                      << '\t' << j["mixes"].get<std::size_t>() << "\n";
        }
    }
    if (devices.empty()) {
        std::cerr << "zelto: no mixer answered; check the network, give its address with --host, or raise "
                     "--timeout\n";
        return kFailure;
    }
    return mixers.everyHostConnected() ? kSuccess : kFailure;
}

int runList(const ListArgs& args) {
    std::vector<std::string> sources = args.sources;
    bool all = sources.empty();
    bool network = all;
    for (auto& s : sources) network = network || !isLocal(s);
    Mixers mixers(args.net);
    if (network && !findMixers(mixers)) return kFailure;
    if (all) {
        sources.push_back("local");
        for (auto& d : mixers.devices()) sources.push_back(d->ip().to_string());
    }
    int status = kSuccess;
    json out = json::array();
    for (const auto& source : sources) {
        std::optional<std::vector<RemoteZeltoPreset>> list;
        json entry;
        std::string title;
        if (isLocal(source)) {
            std::string folder = syncFolder(args.dir);
            list = localList(folder);
            entry = {{"source", "local"}, {"path", folder}};
            title = "local (" + folder + ")";
        } else {
            auto device = needMixer(mixers, source);
            if (device) list = requestList(mixers, device);
            if (device) entry = deviceJson(device), entry["source"] = device->ip().to_string();
            if (device) title = Mixers::label(device);
        }
        if (!list) {
            status = kFailure;
            continue;
        }
        if (args.json) {
            json presets = json::array();
            for (auto& p : *list) presets.push_back(presetJson(p));
            entry["presets"] = presets;
            out.push_back(entry);
        } else {
            std::cout << title << ":\n";
            for (auto& p : *list) {
                std::cout << "  " << p.name;
                if (p.date) std::cout << "\t" << formatIsoDate(*p.date);
                std::cout << "\n";
            }
        }
    }
    if (args.json) std::cout << json{{"sources", out}}.dump(2) << "\n";
    if (network && !mixers.everyHostConnected()) status = kFailure;
    return status;
}

int runSync(const SyncArgs& args) {
    std::string folder = syncFolder(args.dir);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "zelto: the sync folder " << folder
                  << " does not exist; create it or name another with --dir\n";
        return kFailure;
    }
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    if (mixers.devices().empty()) {
        std::cerr << "zelto: no mixer is online, nothing to sync; check the network or give addresses with "
                     "--host\n";
        return kFailure;
    }
    if (args.dryRun) {
        auto local = localList(folder);
        if (!local) return kFailure;
        RequiredPresets lists;
        for (auto& device : mixers.devices()) {
            auto list = requestList(mixers, device);
            if (!list) return kFailure;
            std::erase_if(*list, [](const RemoteZeltoPreset& p) {
                return ZeltoPresetManager::isBuiltInPreset(p.name);
            });
            lists.emplace_back(device, std::move(*list));
        }
        auto plan = planSync(*local, lists);
        for (auto& f : plan.fetches) {
            std::cout << "would fetch " << f.preset.name << " from " << Mixers::label(f.from) << " into "
                      << folder << "\n";
        }
        for (auto& s : plan.sends)
            std::cout << "would send " << s.name << " to " << Mixers::label(s.to) << "\n";
        if (plan.fetches.empty() && plan.sends.empty())
            std::cout << "nothing to do: all sources hold the same presets\n";
        return kSuccess;
    }

    auto printer = std::make_shared<StatusPrinter>(std::cout, std::cerr);
    printer->setProgress(::isatty(STDOUT_FILENO) == 1);
    ZeltoPresetManager manager(mixers.devices(), folder);
    manager.delegate = printer;
    manager.verify = args.verify;
    // What the sync fetches need not be fetched again by a status.
    FingerprintRecording recording(manager);
    printer->line(statustext::startingSync);
    try {
        mixers.runInterruptible(manager.syncDevices());
    } catch (const std::exception& e) {
        if (auto* error = dynamic_cast<const ZeltoPresetManagerError*>(&e);
            error && error->errorCase() == ZeltoPresetManagerError::Case::cancelled) {
            std::cerr << "zelto: sync cancelled before anything was written or sent\n";
            return kFailure;
        }
        printer->errorLine(statustext::failed(e));
        mixers.flush(mixers.devices());
        return kFailure;
    }
    mixers.flush(mixers.devices());
    printer->line(statustext::syncFinished);
    if (!mixers.everyHostConnected()) {
        std::cerr << "zelto: not every mixer given with --host took part; run the sync again once it is "
                     "reachable\n";
        return kFailure;
    }
    // A mixer that answered but could not take part is not in sync either.
    if (mixers.leftOut() > 0) {
        std::cerr << "zelto: " << mixers.leftOut()
                  << " mixer(s) that answered did not take part (see above); run the sync again once they are "
                     "reachable\n";
        return kFailure;
    }
    if (printer->anyFailure()) {
        std::cerr << "zelto: " << printer->failureCount()
                  << " step(s) failed (see above); run the sync again to retry them\n";
        return kFailure;
    }
    return kSuccess;
}

int runCopy(const CopyArgs& args) {
    if (isLocal(args.from) && isLocal(args.to)) {
        std::cerr << "zelto: copying from local to local changes nothing; name a mixer with --from or --to\n";
        return kUsage;
    }
    std::string folder = syncFolder(args.dir);
    Mixers mixers(args.net);
    if (needsNetwork({args.from, args.to}) && !findMixers(mixers)) return kFailure;
    DevicePtr from, to;
    if (!resolveSource(mixers, args.from, from) || !resolveSource(mixers, args.to, to)) return kFailure;

    auto printer = std::make_shared<StatusPrinter>(std::cout, std::cerr);
    ZeltoPresetManager manager({}, folder);
    manager.delegate = printer;
    manager.force = args.force;
    manager.verify = args.verify;
    FingerprintRecording recording(manager);
    printer->line(statustext::copying(args.name, from, to));
    try {
        mixers.runInterruptible(manager.copyPreset(args.name, from, to));
        mixers.flush({to});
    } catch (const ZeltoPresetManagerError& e) {
        if (e.errorCase() == ZeltoPresetManagerError::Case::cancelled) {
            std::cerr << "zelto: copy cancelled\n";
        } else if (e.errorCase() == ZeltoPresetManagerError::Case::presetDoesNotExistAtSource) {
            std::cerr << "zelto: " << args.from << " holds no preset named '" << args.name
                      << "'; run 'zelto list " << args.from << "' to see its presets\n";
        } else if (e.errorCase() == ZeltoPresetManagerError::Case::cannotKeepOldPreset) {
            std::cerr << "zelto: " << e.detail() << "; try again, or add --force to copy without keeping it\n";
        } else {
            printer->errorLine(statustext::failed(e));
        }
        return kFailure;
    } catch (const std::exception& e) {
        printer->errorLine(statustext::failed(e));
        return kFailure;
    }
    if (printer->anyFailure()) return kFailure;
    printer->line(statustext::copyFinished);
    return kSuccess;
}

int runLoad(const LoadArgs& args) {
    if (isLocal(args.on)) {
        std::cerr
            << "zelto: a preset is loaded on a mixer, not on the local folder; name a mixer with --on\n";
        return kUsage;
    }
    bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (!args.yes && !interactive) {
        std::cerr
            << "zelto: loading replaces all current settings on the mixer; without a terminal to confirm, "
               "add --yes\n";
        return kUsage;
    }
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    auto device = needMixer(mixers, args.on);
    if (!device) return kFailure;
    auto list = requestList(mixers, device);
    if (!list) return kFailure;
    if (!holds(*list, args.name)) {
        std::cerr << "zelto: " << Mixers::label(device) << " holds no preset named '" << args.name
                  << "'; run 'zelto list " << args.on << "' to see its presets\n";
        return kFailure;
    }
    if (!args.yes) {
        std::string deviceName = device->name().value_or("your zelto hardware");
        std::cout
            << "Warning!\nAre you sure you want to load \"" << args.name << "\" on " << deviceName
            << "? This will overwrite all current settings on the device!\nload or cancel? [load/cancel] "
            << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "load" && answer != "l" && answer != "y" && answer != "yes") {
            std::cout << "cancelled\n";
            return kFailure;
        }
    }
    device->loadPreset(args.name);
    mixers.flush({device});
    std::cout << "loaded " << args.name << " on " << Mixers::label(device) << "\n";
    return kSuccess;
}

int runDelete(const DeleteArgs& args) {
    if (isLocal(args.from)) {
        std::string folder = syncFolder(args.dir);
        try {
            ZeltoPresetManager::deletePreset(args.name, folder, args.force);
        } catch (const ZeltoPresetManagerError& e) {
            if (e.errorCase() == ZeltoPresetManagerError::Case::cannotKeepOldPreset)
                std::cerr << "zelto: " << e.detail() << "; add --force to delete it without keeping it\n";
            else
                std::cerr << "zelto: '" << args.name << "' is not a preset name that can be a file in " << folder
                          << "; check the name\n";
            return kFailure;
        } catch (const std::exception& e) {
            std::cerr << "zelto: could not delete local preset \"" << args.name << "\": " << e.what()
                      << "; run 'zelto list local' to check the name and folder\n";
            return kFailure;
        }
        std::cout << "deleted " << args.name << " from " << folder << "\n";
        return kSuccess;
    }
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    auto device = needMixer(mixers, args.from);
    if (!device) return kFailure;
    ZeltoPresetManager manager({}, syncFolder(args.dir));
    manager.force = args.force;
    manager.connectsDevices = false;
    try {
        mixers.run(manager.deleteOnDevice(args.name, device));
    } catch (const ZeltoPresetManagerError& e) {
        if (e.errorCase() == ZeltoPresetManagerError::Case::presetDoesNotExist)
            std::cerr << "zelto: " << Mixers::label(device) << " holds no preset named '" << args.name
                      << "'; run 'zelto list " << args.from << "' to see its presets\n";
        else if (e.errorCase() == ZeltoPresetManagerError::Case::cannotKeepOldPreset)
            std::cerr << "zelto: " << e.detail() << "; try again, or add --force to delete it without keeping it\n";
        else
            std::cerr << "zelto: could not delete '" << args.name << "' (" << e.what() << ")\n";
        return kFailure;
    } catch (const std::exception& e) {
        std::cerr << "zelto: the preset list of " << Mixers::label(device) << " did not arrive (" << e.what()
                  << "); try again\n";
        return kFailure;
    }
    // The command is not acknowledged; the next list tells whether it took effect.
    auto after = requestList(mixers, device);
    if (!after || holds(*after, args.name)) {
        std::cerr << "zelto: " << Mixers::label(device) << " still lists '" << args.name
                  << "' after the delete command; try again\n";
        return kFailure;
    }
    std::cout << "deleted " << args.name << " from " << Mixers::label(device) << "\n";
    return kSuccess;
}

int runHistory(const HistoryArgs& args) {
    std::string folder = syncFolder(args.dir);
    History history(folder);
    std::vector<HistoryEntry> entries;
    try {
        entries = history.entries(args.name);
    } catch (const HistoryError& e) {
        std::cerr << "zelto: cannot read the history: " << e.detail() << "\n";
        return kFailure;
    }
    if (args.json) {
        json list = json::array();
        for (auto& e : entries) {
            json j = {{"id", e.id},
                      {"name", e.name},
                      {"event", historyEventName(e.event)},
                      {"time", formatIsoDate(e.time)},
                      {"where", e.location.describe()},
                      {"reason", e.reason},
                      {"operation", e.operation.id},
                      {"kind", e.operation.kind},
                      {"restorable", e.holdsBytes()}};
            if (e.holdsBytes()) j["size"] = e.size;
            list.push_back(j);
        }
        std::cout << json{{"folder", folder}, {"versions", list}}.dump(2) << "\n";
    } else {
        std::cout << "ID\tNAME\tWHEN\tWHERE\tWHY\n";
        for (auto& e : entries) {
            std::cout << e.id << '\t' << e.name << '\t' << formatIsoDate(e.time) << '\t' << e.location.describe()
                      << '\t' << e.reason << (e.holdsBytes() ? "" : " (nothing kept)") << "\n";
        }
    }
    return kSuccess;
}

int runRestore(const RestoreArgs& args) {
    std::string folder = syncFolder(args.dir);
    History history(folder);
    std::optional<HistoryEntry> chosen;
    try {
        for (auto& e : history.entries(args.name)) {
            if (!e.holdsBytes()) continue;
            if (!args.version || e.id == *args.version) chosen = e;
        }
    } catch (const HistoryError& e) {
        std::cerr << "zelto: cannot read the history: " << e.detail() << "\n";
        return kFailure;
    }
    if (!chosen) {
        std::cerr << "zelto: the history keeps no " << (args.version ? "version " + std::to_string(*args.version) + " of " : "")
                  << "'" << args.name << "'; run 'zelto history " << args.name << "' to see its versions\n";
        return kFailure;
    }
    Mixers mixers(args.net);
    if (needsNetwork({args.to}) && !findMixers(mixers)) return kFailure;
    DevicePtr to;
    if (!resolveSource(mixers, args.to, to)) return kFailure;
    ZeltoPresetManager manager({}, folder);
    manager.connectsDevices = false;
    try {
        mixers.run(manager.restorePreset(*chosen, to));
        if (to) mixers.flush({to});
    } catch (const ZeltoPresetManagerError& e) {
        std::cerr << "zelto: cannot restore: " << (e.detail().empty() ? e.what() : e.detail()) << "\n";
        return kFailure;
    } catch (const HistoryError& e) {
        std::cerr << "zelto: cannot restore: " << e.detail() << "\n";
        return kFailure;
    } catch (const std::exception& e) {
        std::cerr << "zelto: cannot restore: " << e.what() << "\n";
        return kFailure;
    }
    std::cout << "restored version " << chosen->id << " of " << args.name << " to "
              << (to ? Mixers::label(to) : folder) << "\n";
    return kSuccess;
}

int runUndo(const UndoArgs& args) {
    std::string folder = syncFolder(args.dir);
    History history(folder);
    std::optional<HistoryOperation> last;
    std::vector<HistoryEntry> entries;
    try {
        last = history.lastOperation();
        if (last) entries = history.entriesOf(last->id);
    } catch (const HistoryError& e) {
        std::cerr << "zelto: cannot read the history: " << e.detail() << "\n";
        return kFailure;
    }
    if (!last) {
        std::cout << "nothing to undo\n";
        return kSuccess;
    }
    bool network = std::any_of(entries.begin(), entries.end(), [](auto& e) { return e.location.mixer; });
    Mixers mixers(args.net);
    if (network && !findMixers(mixers)) return kFailure;
    ZeltoPresetManager manager(mixers.devices(), folder);
    manager.connectsDevices = false;
    try {
        mixers.run(manager.undoLastOperation());
        mixers.flush(mixers.devices());
    } catch (const ZeltoPresetManagerError& e) {
        mixers.flush(mixers.devices());
        std::cerr << "zelto: " << (e.detail().empty() ? e.what() : e.detail()) << "\n";
        return kFailure;
    } catch (const std::exception& e) {
        std::cerr << "zelto: cannot undo: " << e.what() << "\n";
        return kFailure;
    }
    std::cout << "undid " << last->kind << " " << last->id << " (" << entries.size() << " preset(s))\n";
    return kSuccess;
}

int runIdentify(const SourceArgs& args) {
    if (isLocal(args.source)) {
        std::cerr << "zelto: only a mixer can blink; name one by address, uid or name\n";
        return kUsage;
    }
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    auto device = needMixer(mixers, args.source);
    if (!device) return kFailure;
    device->identify();
    mixers.flush({device});
    std::cout << "asked " << Mixers::label(device) << " to blink its display\n";
    return kSuccess;
}

int runInfo(const SourceArgs& args) {
    if (isLocal(args.source)) {
        std::cerr << "zelto: info describes a mixer; name one by address, uid or name\n";
        return kUsage;
    }
    Mixers mixers(args.net);
    if (!findMixers(mixers)) return kFailure;
    auto device = needMixer(mixers, args.source);
    if (!device) return kFailure;
    mixers.flush({device});
    json info = deviceJson(device);
    info["inputs"] = device->numberOfInputs().value_or(0);
    info["outputs"] = device->numberOfOutputs().value_or(0);
    json users = json::array();
    for (auto& [number, user] : device->users()) {
        users.push_back({{"number", number}, {"name", user.name}, {"icon", user.icon}});
    }
    info["users"] = users;
    if (args.json) {
        std::cout << info.dump(2) << "\n";
        return kSuccess;
    }
    std::cout << "description\t" << device->description() << "\n"
              << "address\t" << info["address"].get<std::string>() << "\n"
              << "uid\t" << info["uid"].get<std::string>() << "\n"
              << "model\t" << info["model"].get<std::string>() << "\n"
              << "name\t" << info["name"].get<std::string>() << "\n"
              << "serial number\t" << info["serialNumber"].get<std::string>() << "\n"
              << "version\t" << info["version"].get<std::string>() << "\n"
              << "inputs\t" << info["inputs"].get<std::int64_t>() << "\n"
              << "outputs\t" << info["outputs"].get<std::int64_t>() << "\n"
              << "mixes\t" << users.size() << "\n";
    for (auto& u : users) {
        std::cout << "  mix " << u["number"].get<std::uint32_t>() << "\t" << u["name"].get<std::string>()
                  << "\n";
    }
    return kSuccess;
}

}  // namespace zelto::cli
