// diff and status: what differs between presets and between sources.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Mixers.h"
#include "compare/FetchRecording.h"
#include "compare/PresetComparer.h"
#include "compare/PresetDiff.h"
#include "sync/PresetFiles.h"

namespace zelto::cli {

using nlohmann::json;

namespace {

// One side of a diff, as the user named it.
struct Operand {
    std::string text;    // as given
    std::string source;  // "local", a mixer, or empty for a file
    std::string name;    // preset name, or the file path
};

std::optional<Operand> parseOperand(const std::string& text) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(text, ec)) return Operand{text, "", text};
    auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return std::nullopt;
    return Operand{text, text.substr(0, colon), text.substr(colon + 1)};
}

// Reads a side into a preset with its bytes; none, with the reason on standard error.
std::optional<RemoteZeltoPreset> loadOperand(const Operand& operand, const std::string& folder,
                                             Mixers& mixers, ZeltoPresetManager& manager) {
    if (operand.source.empty() || operand.source == "local") {
        std::string path = operand.name;
        if (!operand.source.empty()) {
            if (!presetfiles::isSafePresetName(operand.name)) {
                std::cerr << "zelto: '" << operand.name << "' is not a preset name that can be a file in "
                          << folder << "\n";
                return std::nullopt;
            }
            path = presetfiles::presetFilePath(folder, operand.name);
        }
        auto content = presetfiles::readFile(path);
        if (!content || !content->bytes) {
            std::cerr << "zelto: cannot read " << path
                      << (operand.source.empty() ? "; check the path\n"
                                                 : "; run 'zelto list local' to see the folder's presets\n");
            return std::nullopt;
        }
        RemoteZeltoPreset preset("");
        preset.name = operand.name;
        preset.bytes = std::move(content->bytes);
        return preset;
    }
    auto device = mixers.resolve(operand.source);
    if (!device) {
        std::cerr << "zelto: no mixer '" << operand.source << "' among the " << mixers.devices().size()
                  << " online; run 'zelto discover' to see their addresses, uids and names\n";
        return std::nullopt;
    }
    std::vector<RemoteZeltoPreset> list;
    try {
        list = mixers.run(manager.requestList(device));
    } catch (const std::exception& e) {
        std::cerr << "zelto: the preset list of " << Mixers::label(device) << " did not arrive (" << e.what()
                  << "); try again\n";
        return std::nullopt;
    }
    const auto key = ZeltoPresetManager::matchKey(operand.name);
    auto listed = std::find_if(list.begin(), list.end(),
                               [&](const RemoteZeltoPreset& p) { return p.name == operand.name; });
    if (listed == list.end())
        listed = std::find_if(list.begin(), list.end(), [&](const RemoteZeltoPreset& p) {
            return ZeltoPresetManager::matchKey(p.name) == key;
        });
    if (listed == list.end()) {
        std::cerr << "zelto: " << Mixers::label(device) << " holds no preset named '" << operand.name
                  << "'; run 'zelto list " << operand.source << "' to see its presets\n";
        return std::nullopt;
    }
    auto fetched = mixers.run(manager.fetchPreset(device, *listed));
    if (!fetched || !fetched->bytes) {
        std::cerr << "zelto: " << operand.name << " did not arrive from " << Mixers::label(device)
                  << "; try again, or raise --timeout\n";
        return std::nullopt;
    }
    return fetched;
}

// Tabs and line feeds inside a value would break the columns of the text output.
std::string oneLine(const std::optional<std::string>& value) {
    if (!value) return "(none)";
    std::string out;
    for (char c : *value) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

json optionalText(const std::optional<std::string>& text) {
    return text ? json(*text) : json(nullptr);
}

int diffSteps(const DiffArgs& args) {
    auto left = parseOperand(args.left), right = parseOperand(args.right);
    for (const auto* bad : {left ? nullptr : &args.left, right ? nullptr : &args.right}) {
        if (!bad) continue;
        std::cerr << "zelto: '" << *bad
                  << "' is neither a preset file nor SOURCE:NAME (SOURCE: local, or a mixer's address, uid "
                     "or name)\n";
        return kUsage;
    }
    const std::string folder = syncFolder(args.dir);
    Mixers mixers(args.net);
    const bool network = (!left->source.empty() && left->source != "local") ||
                         (!right->source.empty() && right->source != "local");
    if (network) {
        if (!mixers.discover()) return kTrouble;
        mixers.connectAll();
    }
    ZeltoPresetManager manager(mixers.devices(), folder);
    manager.connectsDevices = false;
    auto cache = std::make_shared<MixerFingerprintCache>();
    recordFetchedFingerprints(manager, cache);
    auto a = loadOperand(*left, folder, mixers, manager);
    auto b = a ? loadOperand(*right, folder, mixers, manager) : std::nullopt;
    cache->save();
    if (!a || !b) return kTrouble;

    std::optional<ZeltoPreset> pa, pb;
    for (auto [bytes, preset, operand] : {std::tuple{&*a, &pa, &*left}, std::tuple{&*b, &pb, &*right}}) {
        try {
            *preset = bytes->parse();
        } catch (const std::exception& e) {
            std::cerr << "zelto: " << operand->text << " is not a preset document (" << e.what() << ")\n";
            return kTrouble;
        }
    }
    const auto rows = diffPresets(*pa, *pb, args.all ? DiffRows::all : DiffRows::differing);
    const auto differing =
        std::count_if(rows.begin(), rows.end(), [](const DiffRow& r) { return r.differs(); });
    if (args.json) {
        json list = json::array();
        for (const auto& r : rows)
            list.push_back({{"section", diffSectionName(r.section)},
                            {"path", r.path},
                            {"left", optionalText(r.left)},
                            {"right", optionalText(r.right)},
                            {"differs", r.differs()}});
        auto side = [](const Operand& o, const RemoteZeltoPreset& p) {
            json j = {{"source", o.source.empty() ? "file" : o.source}, {"name", o.name}};
            try {
                j["fingerprint"] = fingerprintOf(*p.bytes).hex();
            } catch (const std::exception&) {
            }
            return j;
        };
        std::cout << json{{"left", side(*left, *a)},
                          {"right", side(*right, *b)},
                          {"same", differing == 0},
                          {"differences", differing},
                          {"rows", list}}
                         .dump(2)
                  << "\n";
    } else {
        std::cout << "--- " << left->text << "\n+++ " << right->text << "\n";
        for (const auto& r : rows)
            std::cout << (r.differs() ? "! " : "  ") << r.path << "\t" << oneLine(r.left) << "\t"
                      << oneLine(r.right) << "\n";
        if (differing == 0)
            std::cout << "the presets are the same\n";
        else
            std::cout << differing << " difference(s)\n";
    }
    return differing == 0 ? kSuccess : kFailure;
}

// Progress of the fetches on standard error: one line kept up to date on a
// terminal, a line per fetch elsewhere.
class FetchProgress : public PresetComparerDelegate {
  public:
    explicit FetchProgress(bool terminal) : terminal_(terminal) {}
    void comparerDidFailReceivingList(const DevicePtr& from, const std::exception& error) override {
        clear();
        if (from)
            std::cerr << "zelto: the preset list of " << Mixers::label(from) << " did not arrive ("
                      << error.what() << "); it is left out\n";
    }
    void comparerDidBuildGrid(const CompareGrid&, std::size_t toFetch) override {
        if (toFetch > 0)
            std::cerr << "fetching " << toFetch << " preset(s) whose contents are not known yet\n";
    }
    void comparerWillFetch(const RemoteZeltoPreset& listed, const DevicePtr& from, std::size_t done,
                           std::size_t total) override {
        if (terminal_) {
            std::cerr << "\r\033[K[compare] " << done + 1 << "/" << total << " " << listed.name << " from "
                      << Mixers::label(from) << std::flush;
            shown_ = true;
        } else {
            std::cerr << "fetching " << listed.name << " from " << Mixers::label(from) << " (" << done + 1
                      << "/" << total << ")\n";
        }
    }
    void comparerDidFailFetching(const RemoteZeltoPreset& listed, const DevicePtr& from) override {
        clear();
        std::cerr << "zelto: " << listed.name << " did not arrive from " << Mixers::label(from)
                  << "; its content stays unknown\n";
    }
    void clear() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }

  private:
    bool terminal_;
    bool shown_ = false;
};

std::string columnTitle(const DevicePtr& device) {
    return device ? Mixers::label(device) : std::string("local");
}

json sourceJson(const DevicePtr& device, const std::string& folder) {
    if (!device) return {{"source", "local"}, {"path", folder}};
    return {{"source", device->ip().to_string()},
            {"uid", device->uid().value_or("")},
            {"name", device->name().value_or("")},
            {"label", Mixers::label(device)}};
}

int statusSteps(const StatusArgs& args) {
    const std::string folder = syncFolder(args.dir);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "zelto: the sync folder " << folder
                  << " does not exist; create it or name another with --dir\n";
        return kTrouble;
    }
    Mixers mixers(args.net);
    if (!mixers.discover()) return kTrouble;
    mixers.connectAll();
    if (mixers.devices().empty()) {
        std::cerr
            << "zelto: no mixer is online, nothing to compare the folder with; check the network or give "
               "addresses with --host\n";
        return kTrouble;
    }
    ZeltoPresetManager manager(mixers.devices(), folder);
    manager.connectsDevices = false;
    auto cache = std::make_shared<MixerFingerprintCache>();
    PresetComparer comparer(manager, cache);
    auto progress = std::make_shared<FetchProgress>(::isatty(STDERR_FILENO) == 1);
    comparer.delegate = progress;
    comparer.fetchesContents = !args.noFetch;
    CompareResult result;
    try {
        mixers.runInterruptible([&]() -> Task<void> { result = co_await comparer.compare(); }());
    } catch (const ZeltoPresetManagerError& e) {
        progress->clear();
        if (e.errorCase() == ZeltoPresetManagerError::Case::cancelled) {
            std::cerr << "zelto: status cancelled; what was fetched is remembered for the next run\n";
            return kTrouble;
        }
        throw;
    }
    progress->clear();
    if (!args.noFetch) std::cerr << "fetched " << result.fetched << " preset(s)\n";

    const auto& grid = result.grid;
    std::size_t inOrder = 0;
    for (const auto& row : grid.rows) inOrder += row.inOrder();
    if (args.json) {
        json sources = json::array();
        for (const auto& device : grid.columns) sources.push_back(sourceJson(device, folder));
        json rows = json::array();
        for (const auto& row : grid.rows) {
            if (args.differencesOnly && row.inOrder()) continue;
            json cells = json::array();
            for (const auto& cell : row.cells) {
                json c = {{"state", cellStateName(cell.state)}};
                if (cell.listed) {
                    c["name"] = cell.listed->preset.name;
                    c["date"] = cell.listed->preset.date ? json(formatIsoDate(*cell.listed->preset.date))
                                                         : json(nullptr);
                    c["fingerprint"] =
                        cell.listed->fingerprint ? json(cell.listed->fingerprint->hex()) : json(nullptr);
                }
                cells.push_back(c);
            }
            rows.push_back({{"name", row.key}, {"inOrder", row.inOrder()}, {"cells", cells}});
        }
        json sync = json::array();
        for (const auto& m : result.preview.mixers)
            sync.push_back({{"source", m.device->ip().to_string()}, {"fetch", m.fetched}, {"send", m.sent}});
        json unlisted = json::array();
        for (const auto& d : result.unlisted) unlisted.push_back(d->ip().to_string());
        std::cout << json{{"folder", folder},
                          {"sources", sources},
                          {"rows", rows},
                          {"inOrder", grid.inOrder()},
                          {"fetched", result.fetched},
                          {"failedFetches", result.failed},
                          {"unlisted", unlisted},
                          {"sync", sync}}
                         .dump(2)
                  << "\n";
    } else {
        std::cout << "PRESET";
        for (const auto& device : grid.columns) std::cout << "\t" << columnTitle(device);
        std::cout << "\n";
        for (const auto& row : grid.rows) {
            if (args.differencesOnly && row.inOrder()) continue;
            std::cout << row.key;
            for (const auto& cell : row.cells) std::cout << "\t" << cellStateName(cell.state);
            std::cout << "\n";
        }
        std::cout << grid.rows.size() << " preset(s): " << inOrder << " the same everywhere, "
                  << grid.rows.size() - inOrder << " differ or are missing somewhere\n";
    }
    if (!result.unlisted.empty() || result.failed > 0 || !mixers.everyHostConnected()) {
        std::cerr
            << "zelto: not every source could be compared (see above); run status again once they answer\n";
        return kTrouble;
    }
    return grid.inOrder() ? kSuccess : kFailure;
}

template <class F>
int guarded(F steps) {
    try {
        return steps();
    } catch (const std::exception& e) {
        std::cerr << "zelto: " << e.what() << "\n";
        return kTrouble;
    }
}

}  // namespace

int runDiff(const DiffArgs& args) {
    return guarded([&] { return diffSteps(args); });
}

int runStatus(const StatusArgs& args) {
    return guarded([&] { return statusSteps(args); });
}

}  // namespace zelto::cli
