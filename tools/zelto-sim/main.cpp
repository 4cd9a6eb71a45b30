// zelto-sim: one simulated mixer speaking the device protocol over UDP.
#include <CLI/CLI.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <cstdio>

#include "Simulator.h"

int main(int argc, char** argv) {
    zelto::sim::Options options;
    double silentAfter = -1;
    CLI::App app{"A simulated ZELTO mixer"};
    app.add_option("--presets", options.presets, "preset folder (one NAME.ZELTOshow per preset)")->required();
    app.add_option("--address", options.address, "IPv4 address to listen on (port 9110)");
    app.add_option("--name", options.name, "device name");
    app.add_option("--serial", options.serial, "serial number");
    app.add_option("--uid", options.uid, "device uid");
    app.add_option("--type", options.type, "device type text");
    app.add_option("--version", options.version, "firmware version");
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
    CLI11_PARSE(app, argc, argv);
    if (silentAfter >= 0) options.silentAfter = silentAfter;

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
