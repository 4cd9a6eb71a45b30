// A full sync of three simulated mixers into an empty folder, next to the
// same bytes crossing loopback as plain datagrams, measured in the same run.
#include <benchmark/benchmark.h>

#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "support/NetNamespace.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace {

using namespace zelto;

constexpr int kMixers = 3;
constexpr int kPresetsPerMixer = 30;
constexpr std::size_t kPresetSize = 100 * 1024;
constexpr std::size_t kDatagram = 1000;

struct Counting : ZeltoPresetManagerDelegate {
    int fetched = 0, failed = 0, sent = 0;
    void presetManagerDidReceivePreset(const RemoteZeltoPreset&, const DevicePtr&) override { ++fetched; }
    void presetManagerDidFailReceivingPreset(const RemoteZeltoPreset&, const DevicePtr&) override {
        ++failed;
    }
    void presetManagerDidFailWritingPreset(const RemoteZeltoPreset&, const std::exception&) override {
        ++failed;
    }
    void presetManagerDidSendPreset(const RemoteZeltoPreset&, const DevicePtr&, bool) override { ++sent; }
};

std::size_t totalBytes = 0;  // what one sync moves: every preset fetched once, sent twice

void BM_SyncThreeMixers(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        test::MixerRig rig;
        totalBytes = 0;
        for (int m = 0; m < kMixers; ++m) {
            std::vector<std::pair<std::string, std::vector<std::uint8_t>>> presets;
            for (int p = 0; p < kPresetsPerMixer; ++p) {
                auto name = "Mixer" + std::to_string(m) + " Song " + std::to_string(p);
                presets.emplace_back(name, test::presetBytes(name, kPresetSize, unsigned(m * 100 + p)));
                totalBytes += presets.back().second.size() * 3;
            }
            rig.add(presets);
        }
        rig.connectAll();
        test::TempFolder folder;
        auto counting = std::make_shared<Counting>();
        ZeltoPresetManager manager(rig.devices(), folder.path());
        manager.delegate = counting;
        state.ResumeTiming();

        auto start = std::chrono::steady_clock::now();
        rig.run(manager.syncDevices());
        auto engineDone = std::chrono::steady_clock::now();
        // The sync confirms its sends on each mixer's list (and resends what
        // a mixer dropped); a list asked here counts what every mixer holds.
        std::size_t held = 0;
        for (auto& device : rig.devices()) held += rig.run(device->requestPresetList(10'000'000'000)).size();

        state.PauseTiming();
        state.counters["fetched"] = counting->fetched;
        state.counters["failed"] = counting->failed;
        state.counters["sent"] = counting->sent;
        state.counters["engine_ms"] = std::chrono::duration<double, std::milli>(engineDone - start).count();
        // Every mixer should end with all 90 presets and its two built-ins.
        state.counters["missing"] = double(kMixers * (kMixers * kPresetsPerMixer + 2)) - double(held);
        if (counting->failed > 0) state.SkipWithError("a fetch failed on loopback");
        state.ResumeTiming();
    }
    state.counters["MB"] = double(totalBytes) / 1e6;
}

// The same bytes as 1000-byte datagrams from one socket to another, in
// windows of one preset so the receiver's buffer never overflows.
void BM_PlainDatagrams(benchmark::State& state) {
    asio::io_context io;
    asio::ip::udp::socket receiver(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    receiver.set_option(asio::socket_base::receive_buffer_size(4 << 20));
    asio::ip::udp::socket sender(io, asio::ip::udp::v4());
    auto to = receiver.local_endpoint();
    std::vector<std::uint8_t> datagram(kDatagram, 0x5a), buffer(2048);
    std::size_t bytes =
        totalBytes > 0 ? totalBytes : std::size_t(kMixers * kPresetsPerMixer * 3) * kPresetSize;
    std::size_t perWindow = kPresetSize / kDatagram + 1;
    std::size_t windows = bytes / (perWindow * kDatagram) + 1;
    for (auto _ : state) {
        for (std::size_t w = 0; w < windows; ++w) {
            for (std::size_t i = 0; i < perWindow; ++i) sender.send_to(asio::buffer(datagram), to);
            for (std::size_t i = 0; i < perWindow; ++i) receiver.receive(asio::buffer(buffer));
        }
    }
    state.counters["MB"] = double(windows * perWindow * kDatagram) / 1e6;
}

// Remembers the mean wall time of each benchmark to print their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto& [sum, count] = times_[run.run_name.function_name];
            sum += run.GetAdjustedRealTime();
            ++count;
            if (auto it = run.counters.find("engine_ms"); it != run.counters.end())
                engine_ += it->second.value;
        }
    }
    void printRatio() const {
        auto mean = [&](const char* name) {
            auto it = times_.find(name);
            return it == times_.end() || it->second.second == 0 ? 0.0 : it->second.first / it->second.second;
        };
        double sync = mean("BM_SyncThreeMixers"), plain = mean("BM_PlainDatagrams");
        if (sync > 0 && plain > 0) {
            double engine = engine_ / times_.at("BM_SyncThreeMixers").second;
            std::printf(
                "sync of %d mixers x %d presets until the mixers took everything in: %.0f ms; "
                "of it the sync itself: %.0f ms; same bytes as plain datagrams: %.0f ms; "
                "ratios %.1fx and %.1fx (goal: at most 5x)\n",
                kMixers, kPresetsPerMixer, sync, engine, plain, sync / plain, engine / plain);
        }
    }

  private:
    std::map<std::string, std::pair<double, int>> times_;
    double engine_ = 0;
};

}  // namespace

BENCHMARK(BM_SyncThreeMixers)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_PlainDatagrams)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

int main(int argc, char** argv) {
    // The simulators bind the protocol's fixed ports on loopback addresses:
    // a private network namespace keeps them off the machine's interfaces.
    if (auto error = zelto::test::enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "bench_sync needs a private network namespace (run as root): %s\n",
                     error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio();
    benchmark::Shutdown();
    return 0;
}
