// What comparing costs: the fingerprint of a large preset next to inflating
// and reading it, the grid of a venue's sources, the diff of two large
// presets, and a second compare of 16 simulated mixers with nothing changed
// (which must fetch nothing). Prints the figures against their goals after
// the runs, every figure from this run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "compare/CompareGrid.h"
#include "compare/PresetComparer.h"
#include "compare/PresetDiff.h"
#include "preset/PresetGenerator.h"
#include "support/NetNamespace.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"

namespace {

using namespace zelto;

// About 1 MB of XML: the generator's shape, grown until it is that large.
const std::string& largeText(std::uint32_t seed = 1) {
    static std::map<std::uint32_t, std::string> texts;
    auto& text = texts[seed];
    if (text.empty()) text = testing::generatePreset({.users = 56, .channelsPerUser = 64, .seed = seed});
    return text;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const std::vector<std::uint8_t>& largeCompressed() {
    static const auto compressed = gzip::compress(bytesOf(largeText()));
    return compressed;
}

void BM_InflateAndParse(benchmark::State& state) {
    for (auto _ : state) {
        auto preset = ZeltoPreset::fromCompressedData(largeCompressed());
        benchmark::DoNotOptimize(preset.userList.users.data());
    }
    state.counters["xml_bytes"] = static_cast<double>(largeText().size());
}

void BM_Fingerprint(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(fingerprintOf(largeCompressed()));
}

// 17 sources (the folder and 16 mixers) x 1,200 names, each source holding
// most names, most contents known, some different.
void BM_Grid(benchmark::State& state) {
    constexpr int kNames = 1200, kMixers = 16;
    asio::io_context io;
    std::mt19937 random(7);
    auto listing = [&](int source) {
        std::vector<ListedPreset> list;
        for (int n = 0; n < kNames; ++n) {
            if (random() % 20 == 0) continue;
            ListedPreset p{RemoteZeltoPreset("Song " + std::to_string(n) + " *[2024-03-01T10:00:00.000Z]"),
                           std::nullopt};
            if (random() % 10 != 0)
                p.fingerprint = Fingerprint{std::uint64_t(n), random() % 8 == 0 ? 1u : 0u};
            list.push_back(std::move(p));
            (void)source;
        }
        return list;
    };
    const auto folder = listing(0);
    std::vector<SourceListing> mixers;
    for (int m = 0; m < kMixers; ++m)
        mixers.push_back(
            {std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.1"),
                                           static_cast<std::uint16_t>(9112 + m), "m" + std::to_string(m)),
             listing(m + 1)});
    for (auto _ : state) {
        auto grid = buildCompareGrid(folder, mixers);
        benchmark::DoNotOptimize(grid.rows.data());
    }
}

// Two large presets that differ in a few dozen values. Arg 0: only the
// differing rows; 1: every row ("show all").
void BM_Diff(benchmark::State& state) {
    const ZeltoPreset left = ZeltoPreset::fromData(bytesOf(largeText()));
    ZeltoPreset right = left;
    for (std::size_t u = 0; u < right.userList.users.size(); u += 3) {
        auto& channels = right.userList.users[u].channelSettingsList.channelSettings;
        channels[u % channels.size()].channelGaindB += 1.5f;
        channels[(u + 5) % channels.size()].mute = !channels[(u + 5) % channels.size()].mute;
    }
    std::size_t rows = 0;
    for (auto _ : state) {
        auto diff = diffPresets(left, right, state.range(0) ? DiffRows::all : DiffRows::differing);
        rows = diff.size();
        benchmark::DoNotOptimize(diff.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}

// 16 simulated mixers of 300 presets each, the folder holding the same: the
// first compare (not timed) fetches every preset, the timed second one must
// fetch none.
void BM_SecondCompare(benchmark::State& state) {
    constexpr int kMixers = 16, kPresets = 300;
    test::TempFolder folder, cacheFolder;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> presets;
    for (int p = 0; p < kPresets; ++p) {
        auto name = "Song " + std::to_string(p);
        presets.emplace_back(name, test::presetBytes(name));
        folder.write(name + ".ZELTOshow",
                     std::string(presets.back().second.begin(), presets.back().second.end()));
    }
    test::MixerRig rig;
    for (int m = 0; m < kMixers; ++m) rig.add(presets);
    rig.connectAll();
    ZeltoPresetManager manager(rig.devices(), folder.path());
    manager.connectsDevices = false;
    auto cache = std::make_shared<MixerFingerprintCache>(cacheFolder.path() + "fingerprints.json");
    PresetComparer comparer(manager, cache);
    const auto first = rig.run(comparer.compare());
    std::size_t fetched = 0;
    bool inOrder = false;
    for (auto _ : state) {
        auto second = rig.run(comparer.compare());
        fetched += second.fetched;
        inOrder = second.grid.inOrder();
    }
    state.counters["first_fetches"] = static_cast<double>(first.fetched);
    state.counters["fetches"] = static_cast<double>(fetched);
    if (!inOrder) state.SkipWithError("the grid is not in order");
}

class GoalReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name =
                run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            auto& best = best_[name];
            const double ms = run.GetAdjustedRealTime();
            if (best == 0 || ms < best) best = ms;
            for (const auto& [counter, value] : run.counters) counters_[name + ":" + counter] = value;
        }
    }
    void printGoals() const {
        auto at = [&](const std::string& name) {
            auto it = best_.find(name);
            return it == best_.end() ? 0.0 : it->second;
        };
        auto counter = [&](const std::string& name) {
            auto it = counters_.find(name);
            return it == counters_.end() ? -1.0 : static_cast<double>(it->second);
        };
        const double parse = at("BM_InflateAndParse"), fingerprint = at("BM_Fingerprint");
        std::printf("\n%-44s %10s  %s\n", "row", "measured", "goal");
        if (parse > 0)
            std::printf("%-44s %9.2fx  at most 1.2x (%.2f ms vs %.2f ms, %.0f KB of XML)\n",
                        "fingerprint / (inflate + parse)", fingerprint / parse, fingerprint, parse,
                        counter("BM_InflateAndParse:xml_bytes") / 1000);
        std::printf("%-44s %8.2f ms  at most 30 ms\n", "grid, 17 sources x 1,200 names", at("BM_Grid"));
        std::printf("%-44s %8.2f ms  at most 50 ms (%.0f rows)\n", "diff of two ~1 MB presets",
                    at("BM_Diff/0"), counter("BM_Diff/0:rows"));
        std::printf("%-44s %8.2f ms  (show all: %.0f rows)\n", "diff of two ~1 MB presets, every row",
                    at("BM_Diff/1"), counter("BM_Diff/1:rows"));
        std::printf("%-44s %8.0f     0 (%.0f ms; the first compare fetched %.0f)\n",
                    "second compare, 16 mixers x 300: fetches", counter("BM_SecondCompare:fetches"),
                    at("BM_SecondCompare"), counter("BM_SecondCompare:first_fetches"));
    }

  private:
    std::map<std::string, double> best_;
    std::map<std::string, double> counters_;
};

}  // namespace

BENCHMARK(BM_InflateAndParse)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_Fingerprint)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_Grid)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Diff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_SecondCompare)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->UseRealTime();

int main(int argc, char** argv) {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) ::setenv("TMPDIR", "/dev/shm", 1);
    if (auto error = zelto::test::enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "bench_compare needs a private network namespace (run as root): %s\n",
                     error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    GoalReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printGoals();
    benchmark::Shutdown();
    return 0;
}
