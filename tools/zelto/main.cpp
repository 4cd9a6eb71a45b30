// zelto: the mixers' presets from the command line.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "Commands.h"
#include "zelto/Version.h"

using namespace zelto::cli;

namespace {

void addNetworkOptions(CLI::App* cmd, NetworkOptions& net) {
    cmd->add_option("--host", net.hosts, "Ask this mixer address directly (repeatable)")->type_name("ADDR");
    cmd->add_flag("--no-broadcast", net.noBroadcast, "Do not broadcast on the network interfaces");
    cmd->add_option("--timeout", net.timeoutSeconds, "Seconds to wait for mixers to answer and come online")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 600.0))
        ->type_name("SECONDS");
}

template <class F>
int run(F&& command) {
    try {
        return command();
    } catch (const std::exception& e) {
        std::cerr << "zelto: " << e.what() << "\n";
        return kFailure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Sync, copy and inspect the presets of ZELTO mixers and a local sync folder.\n"
        "SOURCE is 'local' (the sync folder) or a mixer named by its address, uid or name.",
        "zelto"};
    app.set_version_flag("--version", std::string("zelto ") + zelto::kVersion, "Print the version and exit");
    app.require_subcommand(1);
    app.failure_message(CLI::FailureMessage::help);

    DiscoverArgs discover;
    auto* discoverCmd = app.add_subcommand("discover", "List the mixers that answer");
    addNetworkOptions(discoverCmd, discover.net);
    discoverCmd->add_flag("--json", discover.json, "Print one JSON document");

    ListArgs list;
    auto* listCmd = app.add_subcommand("list", "List the presets of sources (all of them by default)");
    listCmd->add_option("SOURCE", list.sources, "local, or a mixer's address, uid or name");
    listCmd->add_option("--dir", list.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    addNetworkOptions(listCmd, list.net);
    listCmd->add_flag("--json", list.json, "Print one JSON document");

    SyncArgs sync;
    auto* syncCmd = app.add_subcommand("sync", "Make the sync folder and every mixer hold the same presets");
    syncCmd->add_option("--dir", sync.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    addNetworkOptions(syncCmd, sync.net);
    syncCmd->add_flag("--dry-run", sync.dryRun, "Print what would be fetched and sent; change nothing");
    syncCmd->add_flag("--verify", sync.verify,
                      "Fetch every sent preset back and compare it with what was sent");

    CopyArgs copy;
    auto* copyCmd =
        app.add_subcommand("copy", "Copy one preset between two sources, replacing one of that name");
    copyCmd->add_option("NAME", copy.name, "Preset name")->required();
    copyCmd->add_option("--from", copy.from, "Source: local or a mixer")->required()->type_name("SOURCE");
    copyCmd->add_option("--to", copy.to, "Destination: local or a mixer")->required()->type_name("SOURCE");
    copyCmd->add_option("--dir", copy.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    copyCmd->add_flag("--force", copy.force, "Replace even when the old preset cannot be kept in the history");
    addNetworkOptions(copyCmd, copy.net);
    copyCmd->add_flag("--verify", copy.verify,
                      "Fetch the sent preset back and compare it with what was sent");

    LoadArgs load;
    auto* loadCmd = app.add_subcommand("load", "Load a preset on a mixer (replaces its current settings)");
    loadCmd->add_option("NAME", load.name, "Preset name")->required();
    loadCmd->add_option("--on", load.on, "The mixer")->required()->type_name("SOURCE");
    loadCmd->add_flag("--yes,-y", load.yes, "Do not ask for confirmation");
    addNetworkOptions(loadCmd, load.net);

    DeleteArgs del;
    auto* deleteCmd = app.add_subcommand("delete", "Delete a preset from a mixer or the sync folder");
    deleteCmd->add_option("NAME", del.name, "Preset name")->required();
    deleteCmd->add_option("--from", del.from, "local or a mixer")->required()->type_name("SOURCE");
    deleteCmd->add_option("--dir", del.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    deleteCmd->add_flag("--force", del.force, "Delete even when the preset cannot be kept in the history");
    addNetworkOptions(deleteCmd, del.net);

    HistoryArgs history;
    auto* historyCmd = app.add_subcommand("history", "List the kept versions of presets, newest last");
    historyCmd->add_option("NAME", history.name, "Only this preset");
    historyCmd->add_option("--dir", history.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    historyCmd->add_flag("--json", history.json, "Print one JSON document");

    RestoreArgs restore;
    auto* restoreCmd = app.add_subcommand("restore", "Put a kept version of a preset back");
    restoreCmd->add_option("NAME", restore.name, "Preset name")->required();
    restoreCmd->add_option("--version", restore.version, "The version's id (default: the newest kept)")
        ->type_name("ID");
    restoreCmd->add_option("--to", restore.to, "local or a mixer")->required()->type_name("SOURCE");
    restoreCmd->add_option("--dir", restore.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    addNetworkOptions(restoreCmd, restore.net);

    UndoArgs undo;
    auto* undoCmd = app.add_subcommand("undo", "Undo the last copy, sync, delete or restore");
    undoCmd->add_option("--dir", undo.dir, "Sync folder (default: the shared default folder)")->type_name("DIR");
    addNetworkOptions(undoCmd, undo.net);

    SourceArgs identify;
    auto* identifyCmd = app.add_subcommand("identify", "Make a mixer's display blink");
    identifyCmd->add_option("SOURCE", identify.source, "The mixer")->required();
    addNetworkOptions(identifyCmd, identify.net);

    SourceArgs info;
    auto* infoCmd = app.add_subcommand("info", "Show a mixer's identity and mixes");
    infoCmd->add_option("SOURCE", info.source, "The mixer")->required();
    infoCmd->add_flag("--json", info.json, "Print one JSON document");
    addNetworkOptions(infoCmd, info.net);

    std::string showFile;
    auto* showCmd = app.add_subcommand("show", "Print a preset file (compressed or plain) as its XML text");
    showCmd->add_option("FILE", showFile, "Preset file")->required();

    std::string packFile, packOut;
    auto* packCmd = app.add_subcommand("pack", "Write a preset's XML as a compressed preset file");
    packCmd->add_option("FILE", packFile, "Preset XML file")->required();
    packCmd->add_option("-o,--output", packOut, "Output preset file")->required()->type_name("OUT");

    DiffArgs diff;
    auto* diffCmd = app.add_subcommand(
        "diff", "Show how two presets differ, mix by mix and channel by channel (exit 1 when they do)");
    diffCmd->add_option("LEFT", diff.left, "SOURCE:NAME (SOURCE: local or a mixer), or a preset file")
        ->required();
    diffCmd->add_option("RIGHT", diff.right, "SOURCE:NAME (SOURCE: local or a mixer), or a preset file")
        ->required();
    diffCmd->add_option("--dir", diff.dir, "Sync folder (default: the shared default folder)")->type_name("DIR");
    diffCmd->add_flag("--all", diff.all, "Also list the values that are the same");
    diffCmd->add_flag("--json", diff.json, "Print one JSON document");
    addNetworkOptions(diffCmd, diff.net);

    StatusArgs status;
    auto* statusCmd = app.add_subcommand(
        "status", "Compare every preset of the sync folder and every mixer (exit 1 when any differs or is missing)");
    statusCmd->add_option("--dir", status.dir, "Sync folder (default: the shared default folder)")
        ->type_name("DIR");
    statusCmd->add_flag("--differences", status.differencesOnly, "Only the presets that differ or are missing somewhere");
    statusCmd->add_flag("--no-fetch", status.noFetch, "Fetch nothing: contents not fingerprinted yet stay unknown");
    statusCmd->add_flag("--json", status.json, "Print one JSON document");
    addNetworkOptions(statusCmd, status.net);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kSuccess : kUsage;
    }

    int exitStatus = run([&] {
        if (*discoverCmd) return runDiscover(discover);
        if (*diffCmd) return runDiff(diff);
        if (*statusCmd) return runStatus(status);
        if (*listCmd) return runList(list);
        if (*syncCmd) return runSync(sync);
        if (*copyCmd) return runCopy(copy);
        if (*loadCmd) return runLoad(load);
        if (*deleteCmd) return runDelete(del);
        if (*historyCmd) return runHistory(history);
        if (*restoreCmd) return runRestore(restore);
        if (*undoCmd) return runUndo(undo);
        if (*identifyCmd) return runIdentify(identify);
        if (*infoCmd) return runInfo(info);
        if (*showCmd) return runShow(showFile);
        if (*packCmd) return runPack(packFile, packOut);
        return int(kUsage);
    });
    return exitStatus;
}
