// zelto-sim: one simulated mixer speaking the device protocol over UDP.
#include <CLI/CLI.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <cstdio>

#include "Simulator.h"
#include "zelto/Version.h"

int main(int argc, char** argv) {
    zelto::sim::Options options;
    double silentAfter = -1, offlineAfter = -1, offlineFor = -1;
    int listDelay = 0;
    CLI::App app{"A simulated ZELTO mixer: answers discovery, sessions and preset transfers over UDP\n"
                 "as a mixer does, from a folder of preset files.",
                 "zelto-sim"};
    app.add_option("--presets", options.presets, "preset folder (one NAME.ZELTOshow per preset)")->required();
    app.add_option("--address", options.address, "IPv4 address to listen on (port 9110)");
    app.add_option("--name", options.name, "device name");
    app.add_option("--serial", options.serial, "serial number");
    app.add_option("--uid", options.uid, "device uid");
    app.add_option("--type", options.type, "device type text");
    app.set_version_flag("--version", std::string("zelto-sim ") + zelto::kVersion, "Print the version and exit");
    app.add_option("--firmware", options.version, "firmware version the mixer reports");
    app.add_option("--users", options.users, "number of users (mixes)")->check(CLI::Range(0, 64));
    app.add_option("--userinfo-args", options.userInfoArgs, "UserInfo argument count")
        ->check(CLI::IsMember({18, 19, 20}));
    app.add_flag("--compress", options.compress, "zlib-compress every datagram sent");
    app.add_flag("--dated-segments", options.datedSegments, "put the preset's date into segment names");
    app.add_option("--loss", options.loss, "percentage of datagrams dropped each way")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--seed", options.seed, "seed of the loss");
    app.add_option("--silent-after", silentAfter,
                   "stop pinging this many seconds after the first session began");
    app.add_option("--ignore-list-requests", options.ignoreListRequests,
                   "leave the first N preset list requests unanswered, then answer")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--ignore-preset-requests", options.ignorePresetRequests,
                   "leave the first N requests for a preset's content unanswered, then answer")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--offline-after", offlineAfter,
                   "switch off this many seconds after the first session began: every datagram is "
                   "ignored and nothing is sent")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--offline-for", offlineFor,
                   "switch on again after this many seconds off, with every session forgotten as after "
                   "a reboot (without it the mixer stays off)")
        ->check(CLI::NonNegativeNumber)
        ->needs("--offline-after");
    app.add_option("--list-delay", listDelay, "answer preset list requests after this many milliseconds")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--drop-presets", options.dropPresets,
                   "discard the first N presets received, as when one of their segments is lost")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--corrupt-presets", options.corruptPresets,
                   "change one byte of each of the first N presets stored, as a faulty memory would")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--preset-level", options.presetLevel,
                   "send every preset compressed at this zlib level (0-9), whether stored plain or "
                   "compressed otherwise")
        ->check(CLI::Range(0, 9));
    CLI11_PARSE(app, argc, argv);
    if (silentAfter >= 0) options.silentAfter = silentAfter;
    if (offlineAfter >= 0) options.offlineAfter = std::chrono::duration<double>(offlineAfter);
    if (offlineFor >= 0) options.offlineFor = std::chrono::duration<double>(offlineFor);
    options.listDelay = std::chrono::milliseconds(listDelay);

    asio::io_context io;
    zelto::sim::Simulator simulator(io, options);
    try {
        simulator.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelto-sim: %s\n", e.what());
        return 1;
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](std::error_code, int) { io.stop(); });
    io.run();
    return 0;
}
