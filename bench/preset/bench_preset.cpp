// Reading, writing and compressing a large generated preset, next to expat and zlib doing the bare
// work on the same bytes. Prints a table of ratios after the runs, every figure from this run.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "preset/PresetGenerator.h"
#include "preset/ZeltoPreset.h"

namespace {

using namespace zelto;

const std::string& presetText() {
    static const std::string text = testing::generatePreset({});
    return text;
}

std::span<const std::uint8_t> presetBytes() {
    const std::string& t = presetText();
    return {reinterpret_cast<const std::uint8_t*>(t.data()), t.size()};
}

const std::vector<std::uint8_t>& compressedBytes() {
    static const std::vector<std::uint8_t> c = gzip::compress(presetBytes());
    return c;
}

void XMLCALL noStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL noEnd(void*, const XML_Char*) {}
void XMLCALL noText(void*, const XML_Char*, int) {}

void expatAlone(benchmark::State& state) {
    const std::string& text = presetText();
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, noStart, noEnd);
        XML_SetCharacterDataHandler(parser, noText);
        if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) != XML_STATUS_OK)
            state.SkipWithError("expat failed");
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void presetFromData(benchmark::State& state) {
    for (auto _ : state) {
        ZeltoPreset preset = ZeltoPreset::fromData(presetBytes());
        benchmark::DoNotOptimize(preset.userList.users.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * presetText().size()));
}

void presetToData(benchmark::State& state) {
    ZeltoPreset preset = ZeltoPreset::fromData(presetBytes());
    for (auto _ : state) {
        auto data = preset.toData();
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * presetText().size()));
}

void zlibCompressAlone(benchmark::State& state) {
    const auto in = presetBytes();
    std::vector<std::uint8_t> out(compressBound(static_cast<uLong>(in.size())));
    for (auto _ : state) {
        z_stream s{};
        deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
        s.next_in = const_cast<Bytef*>(in.data());
        s.avail_in = static_cast<uInt>(in.size());
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
        deflateEnd(&s);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void zlibInflateAlone(benchmark::State& state) {
    const auto& in = compressedBytes();
    std::vector<std::uint8_t> out(presetText().size());
    for (auto _ : state) {
        z_stream s{};
        inflateInit2(&s, 0);
        s.next_in = const_cast<Bytef*>(in.data());
        s.avail_in = static_cast<uInt>(in.size());
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
        inflateEnd(&s);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

void presetToCompressedData(benchmark::State& state) {
    ZeltoPreset preset = ZeltoPreset::fromData(presetBytes());
    for (auto _ : state) {
        auto data = preset.toCompressedData();
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * presetText().size()));
}

void presetFromCompressedData(benchmark::State& state) {
    const auto& in = compressedBytes();
    for (auto _ : state) {
        ZeltoPreset preset = ZeltoPreset::fromCompressedData(in);
        benchmark::DoNotOptimize(preset.userList.users.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * presetText().size()));
}

constexpr int kRepetitions = 8;

BENCHMARK(expatAlone)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(presetFromData)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(presetToData)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(zlibCompressAlone)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(zlibInflateAlone)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(presetToCompressedData)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(presetFromCompressedData)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

// Keeps the fastest repetition of every benchmark (the machine is shared; the minimum is the
// least disturbed figure) so the ratios can be printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> milliseconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                const std::string name = run.run_name.function_name;
                const double t = run.GetAdjustedCPUTime();
                auto [it, inserted] = milliseconds.emplace(name, t);
                if (!inserted && t < it->second) it->second = t;
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    // The machine is shared and its speed drifts over a run; interleaving the repetitions of all rows
    // lets each ratio compare figures taken under the same conditions. A flag given later overrides.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ms = [&](const char* name) {
        auto it = reporter.milliseconds.find(name);
        return it == reporter.milliseconds.end() ? 0.0 : it->second;
    };
    const double mb = static_cast<double>(presetText().size()) / 1e6;
    std::printf("\npreset of %.2f MB (%.1f KB compressed)\n", mb, compressedBytes().size() / 1e3);
    std::printf("%-26s %11s %9s\n", "operation", "min ms CPU", "MB/s");
    for (const char* name : {"expatAlone", "presetFromData", "presetToData", "zlibCompressAlone",
                             "zlibInflateAlone", "presetToCompressedData", "presetFromCompressedData"}) {
        const double t = ms(name);
        std::printf("%-26s %11.3f %9.1f\n", name, t, t > 0 ? mb / (t / 1e3) : 0.0);
    }
    // Compressed reading and writing set against their parts measured above: no more than the parts'
    // sum, less a little noise (inflating into the parser's buffer may even save a copy).
    struct Row {
        const char* name;
        double ours;
        double base;
        double goal;
    };
    const Row rows[] = {
        {"read / bare expat parse", ms("presetFromData"), ms("expatAlone"), 1.5},
        {"write / read", ms("presetToData"), ms("presetFromData"), 0.5},
        {"compressed read / (inflate + read)", ms("presetFromCompressedData"),
         ms("zlibInflateAlone") + ms("presetFromData"), 1.1},
        {"compressed write / (write + deflate)", ms("presetToCompressedData"),
         ms("presetToData") + ms("zlibCompressAlone"), 1.1},
    };
    std::printf("\n%-38s %9s %9s %7s %5s\n", "ratio", "ours ms", "base ms", "ratio", "goal");
    for (const Row& row : rows) {
        const double r = row.ours > 0 && row.base > 0 ? row.ours / row.base : -1;
        std::printf("%-38s %9.3f %9.3f %7.2f %5.1f%s\n", row.name, row.ours, row.base, r, row.goal,
                    r >= 0 && r <= row.goal ? "" : "  (missed)");
    }
    std::printf("ratio = ours / base; CPU time, best of %d repetitions\n", kRepetitions);
    return 0;
}
