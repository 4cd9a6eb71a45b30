// What keeping the old versions costs: a copy of 100 presets over presets of
// the same names, into the folder (in memory; the writes alone, and the whole
// copy from a simulated mixer) and onto a simulated mixer (each old preset
// fetched first), with the history and without it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "support/NetNamespace.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace {

using namespace zelto;

constexpr int kPresets = 100;
constexpr std::size_t kPresetSize = 100 * 1024;

std::vector<RemoteZeltoPreset> presets(unsigned seed) {
    std::vector<RemoteZeltoPreset> list;
    for (int p = 0; p < kPresets; ++p) {
        RemoteZeltoPreset preset("");
        preset.name = "Song " + std::to_string(p);
        preset.bytes = test::presetBytes(preset.name, kPresetSize, seed * 1000 + unsigned(p));
        list.push_back(std::move(preset));
    }
    return list;
}

// Arg 0: without the history; 1: with it.
void BM_CopyOntoFolder(benchmark::State& state) {
    test::TempFolder folder;
    ZeltoPresetManager manager({}, folder.path());
    manager.keepsHistory = state.range(0) == 1;
    auto first = presets(1), second = presets(2);
    manager.writePresetsToLocal(first);
    bool flip = false;
    for (auto _ : state) {
        // Each round replaces every file with other bytes than it holds.
        manager.writePresetsToLocal(flip ? first : second);
        flip = !flip;
    }
    if (manager.failedItems() > 0) state.SkipWithError("a write failed");
}

void BM_CopyOntoMixer(benchmark::State& state) {
    test::MixerRig rig;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> held;
    for (auto& p : presets(3)) held.emplace_back(p.name, *p.bytes);
    auto& mixer = rig.add(held);
    rig.connectAll();
    test::TempFolder folder;
    for (auto& p : presets(4)) folder.write(p.name + ".ZELTOshow", std::string(p.bytes->begin(), p.bytes->end()));
    ZeltoPresetManager manager({}, folder.path());
    manager.keepsHistory = state.range(0) == 1;
    for (auto _ : state) {
        for (int p = 0; p < kPresets; ++p) rig.run(manager.copyPreset("Song " + std::to_string(p), nullptr, mixer.device));
        // Sends are unacknowledged: a list queued behind them shows they were taken in.
        rig.run(mixer.device->requestPresetList(10'000'000'000));
    }
}

// The whole copy a user makes onto the folder: 100 presets fetched from a
// mixer, each replacing a file of the same name that holds other bytes.
void BM_CopyFromMixerOntoFolder(benchmark::State& state) {
    test::MixerRig rig;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> held;
    for (auto& p : presets(5)) held.emplace_back(p.name, *p.bytes);
    auto& mixer = rig.add(held);
    rig.connectAll();
    test::TempFolder folder;
    ZeltoPresetManager manager({}, folder.path());
    manager.keepsHistory = state.range(0) == 1;
    auto other = presets(6);
    for (auto _ : state) {
        state.PauseTiming();
        manager.writePresetsToLocal(other);
        state.ResumeTiming();
        for (int p = 0; p < kPresets; ++p) rig.run(manager.copyPreset("Song " + std::to_string(p), mixer.device, nullptr));
    }
    if (manager.failedItems() > 0) state.SkipWithError("a copy failed");
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto& best = best_[run.run_name.function_name + "/" + run.run_name.args];
            double t = run.GetAdjustedRealTime();
            if (best == 0 || t < best) best = t;
        }
    }
    void printRatios() const {
        auto at = [&](const std::string& name) {
            auto it = best_.find(name);
            return it == best_.end() ? 0.0 : it->second;
        };
        for (const char* what : {"BM_CopyOntoFolder", "BM_CopyFromMixerOntoFolder", "BM_CopyOntoMixer"}) {
            double without = at(std::string(what) + "/0"), with = at(std::string(what) + "/1");
            if (without > 0 && with > 0)
                std::printf("%s, %d presets of %zu KiB: %.2f ms with the history, %.2f ms without: ratio %.2fx%s\n",
                            what, kPresets, kPresetSize / 1024, with, without, with / without,
                            std::string(what) == "BM_CopyFromMixerOntoFolder" ? " (goal: at most 1.3x)"
                            : std::string(what) == "BM_CopyOntoFolder" ? " (the writes alone)"
                                                                      : "");
        }
    }

  private:
    std::map<std::string, double> best_;
};

}  // namespace

BENCHMARK(BM_CopyOntoFolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_CopyFromMixerOntoFolder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_CopyOntoMixer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

int main(int argc, char** argv) {
    // The folder lives in memory where there is such a file system: the
    // ratio is then that of the work, not of the disk.
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) ::setenv("TMPDIR", "/dev/shm", 1);
    if (auto error = zelto::test::enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "bench_history needs a private network namespace (run as root): %s\n", error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
