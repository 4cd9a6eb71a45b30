// Fetching and sending presets of about 100 KB and 1 MB through a device
// session to zelto-sim, next to the same bytes pushed as plain 1000-byte
// datagrams between two sockets, measured in the same run.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <asio/ip/udp.hpp>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "device/IoRunner.h"
#include "support/SimProcess.h"
#include "device/ZeltoDevice.h"
#include "preset/Gzip.h"
#include "preset/ZeltoPreset.h"
#include "support/NetNamespace.h"

namespace {

using namespace zelto;
constexpr std::uint64_t kSecond = 1'000'000'000;

// A readable, compressed preset of about `size` bytes.
std::vector<std::uint8_t> presetBytes(const std::string& name, std::size_t size) {
    ZeltoPreset preset = ZeltoPreset::defaultOff();
    preset.name = name;
    auto xml = preset.toData();
    std::string text(xml.begin(), xml.end());
    std::mt19937 random(7);
    std::string padding;
    while (padding.size() < size * 17 / 10) padding += static_cast<char>('a' + random() % 26);
    text.insert(ZeltoPreset::xmlDeclaration.size(), "<!--" + padding + "-->");
    return gzip::compress(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), -1, 15);
}

struct Confirmations : ZeltoDeviceDelegate {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    void deviceDidReceiveConfirmation5(ZeltoDevice&) override {
        std::lock_guard lock(mutex);
        ++count;
        changed.notify_all();
    }
    int current() {
        std::lock_guard lock(mutex);
        return count;
    }
    bool waitFor(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return count >= n; });
    }
};

struct Rig {
    test::IoRunner runner;
    test::SimProcess sim{"127.0.0.2"};
    std::shared_ptr<Confirmations> confirmations = std::make_shared<Confirmations>();
    std::shared_ptr<ZeltoDevice> device;
    std::map<std::size_t, std::vector<std::uint8_t>> presets;

    Rig() {
        for (std::size_t size : {100'000u, 1'000'000u}) {
            presets[size] = presetBytes("Bench " + std::to_string(size), size);
            sim.writePreset("Bench " + std::to_string(size), presets[size]);
        }
        device = ZeltoDevice::make(runner.io, {"127.0.0.2", 9110}, 9112, std::nullopt);
        device->setDelegate(confirmations);
        runner.run(device->connect(5 * kSecond));
    }
};

Rig& rig() {
    static Rig instance;
    return instance;
}

std::map<std::string, double> secondsPerRun;

void record(benchmark::State& state, const std::string& name, std::chrono::steady_clock::duration total) {
    double seconds = std::chrono::duration<double>(total).count() / double(state.iterations());
    secondsPerRun[name + "/" + std::to_string(state.range(0))] = seconds;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}

void BM_Fetch(benchmark::State& state) {
    auto& r = rig();
    std::string name = "Bench " + std::to_string(state.range(0));
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        auto preset = r.runner.run(r.device->transferPreset(name, 10 * kSecond));
        total += std::chrono::steady_clock::now() - started;
        if (*preset.bytes != r.presets[std::size_t(state.range(0))]) state.SkipWithError("bytes differ");
    }
    record(state, "fetch", total);
}

void BM_Send(benchmark::State& state) {
    auto& r = rig();
    RemoteZeltoPreset preset("Sent " + std::to_string(state.range(0)));
    preset.bytes = r.presets[std::size_t(state.range(0))];
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        int before = r.confirmations->current();
        auto started = std::chrono::steady_clock::now();
        r.device->sendPreset(preset, false);
        if (!r.confirmations->waitFor(before + 1)) state.SkipWithError("the simulator did not confirm");
        total += std::chrono::steady_clock::now() - started;
    }
    record(state, "send", total);
}

// The send alone: until the simulator holds every segment, before it checks
// the document and stores it.
void BM_SendUntilReassembled(benchmark::State& state) {
    auto& r = rig();
    RemoteZeltoPreset preset("Sent " + std::to_string(state.range(0)));
    preset.bytes = r.presets[std::size_t(state.range(0))];
    std::string line = "reassembled preset " + preset.name + " (";
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        int before = r.sim.countLines(line);
        int confirmed = r.confirmations->current();
        auto started = std::chrono::steady_clock::now();
        r.device->sendPreset(preset, false);
        if (!r.sim.waitForCount(line, before + 1)) state.SkipWithError("the simulator did not reassemble");
        total += std::chrono::steady_clock::now() - started;
        r.confirmations->waitFor(confirmed + 1);  // the next round starts after this one is stored
    }
    record(state, "segments", total);
}

// The same bytes as 1000-byte datagrams from one plain socket to another.
void BM_PlainDatagrams(benchmark::State& state) {
    asio::io_context io;
    asio::ip::udp::socket receiver(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    asio::ip::udp::socket sender(io, asio::ip::udp::v4());
    // Room for a whole preset, as the session's own socket has.
    int room = 8 << 20;
    ::setsockopt(receiver.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    auto to = receiver.local_endpoint();
    std::vector<std::uint8_t> payload(1000, 0x5A), buffer(65536);
    std::size_t datagrams = (std::size_t(state.range(0)) + 999) / 1000;
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        std::thread consumer([&] {
            for (std::size_t i = 0; i < datagrams; ++i) receiver.receive(asio::buffer(buffer));
        });
        for (std::size_t i = 0; i < datagrams; ++i) sender.send_to(asio::buffer(payload), to);
        consumer.join();
        total += std::chrono::steady_clock::now() - started;
    }
    record(state, "plain", total);
}

BENCHMARK(BM_Fetch)->Arg(100'000)->Arg(1'000'000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Send)->Arg(100'000)->Arg(1'000'000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendUntilReassembled)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainDatagrams)->Arg(100'000)->Arg(1'000'000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string error = zelto::test::enterPrivateNetwork();
    if (!error.empty()) {
        std::fprintf(stderr, "cannot isolate the network: %s\n", error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // "send" waits for the simulator's confirmation, so it includes the
    // simulator reading the whole document; "segments" stops when it holds them all.
    std::printf("\n%-9s %9s %9s %9s %9s %8s %8s %8s\n", "size", "fetch ms", "send ms", "segs ms", "plain ms",
                "fetch/x", "send/x", "segs/x");
    for (std::size_t size : {100'000u, 1'000'000u}) {
        auto key = "/" + std::to_string(size);
        double fetch = secondsPerRun["fetch" + key], send = secondsPerRun["send" + key],
               segments = secondsPerRun["segments" + key], plain = secondsPerRun["plain" + key];
        if (plain <= 0) continue;
        std::printf("%-9zu %9.2f %9.2f %9.2f %9.2f %8.2f %8.2f %8.2f\n", size, fetch * 1e3, send * 1e3,
                    segments * 1e3, plain * 1e3, fetch / plain, send / plain, segments / plain);
    }
    benchmark::Shutdown();
    return 0;
}
