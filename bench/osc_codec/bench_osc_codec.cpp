// Encode and decode cost per object of our codec against two independent OSC
// codecs run in the same binary, with a plain memcpy of the encoded bytes as
// the floor. Prints our time divided by the faster peer's for every row.

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <oscpack/osc/OscOutboundPacketStream.h>
#include <oscpack/osc/OscReceivedElements.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "osc/OSCDecoder.h"

using namespace zelto;

namespace {

// One argument of a test message, described once and built for each codec.
struct Arg {
    char tag;  // 'i', 's' or 'b'
    std::int32_t i = 0;
    std::string s;
    std::vector<std::uint8_t> b;
};

struct Case {
    std::string name;
    std::string address;
    std::vector<Arg> args;
    bool inBundle = false;
};

Arg I(std::int32_t v) {
    return {'i', v, {}, {}};
}
Arg S(std::string v) {
    return {'s', 0, std::move(v), {}};
}
Arg B(std::size_t n) {
    std::vector<std::uint8_t> data(n);
    for (std::size_t k = 0; k < n; ++k) data[k] = static_cast<std::uint8_t>(k * 31 + 7);
    return {'b', 0, {}, std::move(data)};
}

std::vector<Case> cases() {
    Case presetSeg{"a PresetSeg",
                   "/ZELTOapp/control/PresetSeg",
                   {S("Show *[2021-05-01T10:00:00.000Z].ZELTOshow"), B(1000), I(3), I(12), S("Stage Left"),
                    S("a1b2c3d4")}};
    Case userInfo{"b UserInfo",
                  "/ZELTOapp/control/UserInfo",
                  {S("Stage Left"), S("icon3"), I(2), I(0), S("ZS123456"), I(1), I(0), S("ZELTO:orvel"),
                   S("2.4.1"), I(0), I(0), S("Monitor Rack A"), I(16), I(8), I(0), I(0), S("00000000"),
                   S("x"), S("uid-5f3a9c21-77b0")}};
    Case ping{"c Ping", "/Zo/Ping", {I(9112), S("qv42")}};
    Case bundle = ping;
    bundle.name = "d Bundle(Ping)";
    bundle.inBundle = true;
    return {presetSeg, userInfo, ping, bundle};
}

// --- ours

OSCObject buildOurs(const Case& c) {
    std::vector<OSCValue> values;
    for (const auto& a : c.args) {
        if (a.tag == 'i') values.emplace_back(a.i);
        if (a.tag == 's') values.emplace_back(a.s);
        if (a.tag == 'b') values.push_back(OSCValue::blob(a.b));
    }
    auto message = *OSCMessage::make(c.address, values);
    if (!c.inBundle) return message;
    return OSCBundle(OSCTimeTagNow, {message});
}

// Every decoder reads every argument into this, so none can skip work.
struct Sink {
    std::int64_t sum = 0;
    void take(std::int32_t v) { sum += v; }
    void take(const char* s, std::size_t n) { sum += n + static_cast<unsigned char>(n ? s[0] : 0); }
};

void readOurs(const OSCObject& object, Sink& sink) {
    if (const auto* bundle = object.bundle()) {
        for (const auto& e : bundle->elements()) readOurs(e, sink);
        return;
    }
    const auto& message = *object.message();
    sink.take(message.address().address().data(), message.address().address().size());
    for (const auto& v : message.values()) {
        if (auto i = v.asInt32())
            sink.take(*i);
        else if (auto s = v.asString())
            sink.take(s->data(), s->size());
        else if (auto b = v.asData())
            sink.take(reinterpret_cast<const char*>(b->data()), b->size());
    }
}

// --- liblo

lo_message buildLiblo(const Case& c) {
    lo_message m = lo_message_new();
    for (const auto& a : c.args) {
        if (a.tag == 'i') lo_message_add_int32(m, a.i);
        if (a.tag == 's') lo_message_add_string(m, a.s.c_str());
        if (a.tag == 'b') {
            lo_blob blob = lo_blob_new(static_cast<std::int32_t>(a.b.size()), a.b.data());
            lo_message_add_blob(m, blob);
            lo_blob_free(blob);
        }
    }
    return m;
}

void readLibloArgs(const char* path, const char* types, lo_arg** argv, int argc, Sink& sink) {
    sink.take(path, std::strlen(path));
    for (int k = 0; k < argc; ++k) {
        const char* raw = reinterpret_cast<const char*>(argv[k]);
        if (types[k] == 'i') {
            std::int32_t v;
            std::memcpy(&v, raw, 4);
            sink.take(v);
        } else if (types[k] == 's') {
            sink.take(raw, std::strlen(raw));
        } else if (types[k] == 'b') {
            auto blob = reinterpret_cast<lo_blob>(argv[k]);
            sink.take(static_cast<const char*>(lo_blob_dataptr(blob)), lo_blob_datasize(blob));
        }
    }
}

int libloHandler(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* sink) {
    readLibloArgs(path, types, argv, argc, *static_cast<Sink*>(sink));
    return 0;
}

// --- oscpack

void encodeOscpack(const Case& c, osc::OutboundPacketStream& p) {
    if (c.inBundle) p << osc::BeginBundle(1);
    p << osc::BeginMessage(c.address.c_str());
    for (const auto& a : c.args) {
        if (a.tag == 'i') p << static_cast<osc::int32>(a.i);
        if (a.tag == 's') p << a.s.c_str();
        if (a.tag == 'b') p << osc::Blob(a.b.data(), static_cast<osc::osc_bundle_element_size_t>(a.b.size()));
    }
    p << osc::EndMessage;
    if (c.inBundle) p << osc::EndBundle;
}

void readOscpackMessage(const osc::ReceivedMessage& m, Sink& sink) {
    sink.take(m.AddressPattern(), std::strlen(m.AddressPattern()));
    for (auto it = m.ArgumentsBegin(); it != m.ArgumentsEnd(); ++it) {
        if (it->IsInt32()) {
            sink.take(it->AsInt32());
        } else if (it->IsString()) {
            const char* s = it->AsString();
            sink.take(s, std::strlen(s));
        } else if (it->IsBlob()) {
            const void* data;
            osc::osc_bundle_element_size_t size;
            it->AsBlob(data, size);
            sink.take(static_cast<const char*>(data), static_cast<std::size_t>(size));
        }
    }
}

void readOscpack(const osc::ReceivedPacket& packet, Sink& sink) {
    if (packet.IsBundle()) {
        osc::ReceivedBundle bundle(packet);
        for (auto it = bundle.ElementsBegin(); it != bundle.ElementsEnd(); ++it) {
            if (it->IsBundle()) {
                readOscpack(osc::ReceivedPacket(it->Contents(), it->Size()), sink);
            } else {
                readOscpackMessage(osc::ReceivedMessage(*it), sink);
            }
        }
    } else {
        readOscpackMessage(osc::ReceivedMessage(packet), sink);
    }
}

// Registers a benchmark that also reports the minimum over its repetitions.
template <class F>
void registerTimed(const char* name, F&& body) {
    benchmark::RegisterBenchmark(name, std::forward<F>(body))
        ->ComputeStatistics(
            "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

void registerCase(const Case& c) {
    auto ours = std::make_shared<OSCObject>(buildOurs(c));
    auto encoded = std::make_shared<std::vector<std::uint8_t>>(ours->encode());

    // Every codec must produce the same bytes, or the comparison means nothing.
    {
        std::vector<char> buffer(4096);
        osc::OutboundPacketStream p(buffer.data(), buffer.size());
        encodeOscpack(c, p);
        if (p.Size() != encoded->size() || std::memcmp(p.Data(), encoded->data(), p.Size()) != 0) {
            std::fprintf(stderr, "oscpack encodes %s differently\n", c.name.c_str());
            std::exit(1);
        }
    }

    registerTimed(("encode/" + c.name + "/ours").c_str(), [ours](benchmark::State& state) {
        std::vector<std::uint8_t> buffer(4096);
        for (auto _ : state) {
            benchmark::DoNotOptimize(ours->encode(std::span<std::uint8_t>(buffer)));
            benchmark::ClobberMemory();
        }
    });
    registerTimed(("encode/" + c.name + "/liblo").c_str(), [c](benchmark::State& state) {
        lo_message m = buildLiblo(c);
        lo_bundle b = nullptr;
        if (c.inBundle) {
            b = lo_bundle_new(LO_TT_IMMEDIATE);
            lo_bundle_add_message(b, c.address.c_str(), m);
        }
        std::vector<std::uint8_t> buffer(4096);
        for (auto _ : state) {
            std::size_t size = 0;
            if (b) {
                benchmark::DoNotOptimize(lo_bundle_serialise(b, buffer.data(), &size));
            } else {
                benchmark::DoNotOptimize(lo_message_serialise(m, c.address.c_str(), buffer.data(), &size));
            }
            benchmark::ClobberMemory();
        }
        if (b) lo_bundle_free(b);
        lo_message_free(m);
    });
    registerTimed(("encode/" + c.name + "/oscpack").c_str(), [c](benchmark::State& state) {
        std::vector<char> buffer(4096);
        for (auto _ : state) {
            osc::OutboundPacketStream p(buffer.data(), buffer.size());
            encodeOscpack(c, p);
            benchmark::DoNotOptimize(p.Size());
            benchmark::ClobberMemory();
        }
    });
    auto copy = [encoded](benchmark::State& state) {
        std::vector<std::uint8_t> buffer(4096);
        for (auto _ : state) {
            std::memcpy(buffer.data(), encoded->data(), encoded->size());
            benchmark::DoNotOptimize(buffer.data());
            benchmark::ClobberMemory();
        }
    };
    registerTimed(("encode/" + c.name + "/memcpy").c_str(), copy);
    registerTimed(("decode/" + c.name + "/memcpy").c_str(), copy);

    // The datagram as the transport receives it: in a shared buffer that
    // decoded values view in place.
    auto datagram = std::make_shared<OSCDatagram>(OSCDatagram::copyOf(*encoded));
    registerTimed(("decode/" + c.name + "/ours").c_str(), [datagram](benchmark::State& state) {
        Sink sink;
        for (auto _ : state) {
            auto object = OSCObject::from(*datagram);
            readOurs(object, sink);
        }
        benchmark::DoNotOptimize(sink.sum);
    });
    // What a receiver pays: the decoded object shared, placed in the datagram's buffer.
    registerTimed(("parse/" + c.name + "/ours").c_str(), [datagram](benchmark::State& state) {
        Sink sink;
        for (auto _ : state) {
            auto object = OSCStandardDecoder::parseDatagram(*datagram);
            readOurs(*object, sink);
        }
        benchmark::DoNotOptimize(sink.sum);
    });
    // Decoding from bytes the codec does not own: long payloads are copied.
    registerTimed(("copy/" + c.name + "/ours").c_str(), [encoded](benchmark::State& state) {
        Sink sink;
        for (auto _ : state) {
            auto object = OSCObject::from(std::span<const std::uint8_t>(*encoded));
            readOurs(object, sink);
        }
        benchmark::DoNotOptimize(sink.sum);
    });
    registerTimed(("decode/" + c.name + "/liblo").c_str(), [encoded, c](benchmark::State& state) {
        Sink sink;
        if (c.inBundle) {
            // liblo decodes bundles only through its dispatcher; the server's socket sends nothing.
            lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
            if (!server) {
                state.SkipWithError("no liblo server");
                return;
            }
            lo_server_add_method(server, nullptr, nullptr, libloHandler, &sink);
            for (auto _ : state) {
                lo_server_dispatch_data(server, encoded->data(), encoded->size());
            }
            lo_server_free(server);
        } else {
            for (auto _ : state) {
                int result = 0;
                lo_message m = lo_message_deserialise(encoded->data(), encoded->size(), &result);
                readLibloArgs(c.address.c_str(), lo_message_get_types(m), lo_message_get_argv(m),
                              lo_message_get_argc(m), sink);
                lo_message_free(m);
            }
        }
        benchmark::DoNotOptimize(sink.sum);
    });
    registerTimed(("decode/" + c.name + "/oscpack").c_str(), [encoded](benchmark::State& state) {
        Sink sink;
        for (auto _ : state) {
            osc::ReceivedPacket packet(reinterpret_cast<const char*>(encoded->data()), encoded->size());
            readOscpack(packet, sink);
        }
        benchmark::DoNotOptimize(sink.sum);
    });
}

// Keeps the console output and collects CPU ns per object by name, the best
// of the repetitions: on a shared machine the minimum is the stable figure.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> nanoseconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const bool best = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !best)) continue;
            auto name = run.run_name.function_name;
            double ns = run.GetAdjustedCPUTime();
            auto it = nanoseconds.find(name);
            if (it == nanoseconds.end() || ns < it->second) nanoseconds[name] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void printTable(const std::vector<Case>& all, const std::map<std::string, double>& ns) {
    auto at = [&](const std::string& key) {
        auto it = ns.find(key);
        return it == ns.end() ? -1.0 : it->second;
    };
    std::printf("\n%-8s %-16s %9s %9s %9s %9s %7s %5s\n", "op", "object", "ours ns", "liblo ns", "oscpack",
                "memcpy", "ratio", "goal");
    for (const char* op : {"encode", "decode"}) {
        const double goal = std::string(op) == "encode" ? 0.5 : 0.8;
        for (const auto& c : all) {
            const std::string base = std::string(op) + "/" + c.name + "/";
            double ours = at(base + "ours"), lo = at(base + "liblo"), pack = at(base + "oscpack");
            double peer = lo < 0 ? pack : pack < 0 ? lo : std::min(lo, pack);
            double ratio = peer > 0 && ours > 0 ? ours / peer : -1;
            std::printf("%-8s %-16s %9.1f %9.1f %9.1f %9.1f %7.2f %5.1f%s\n", op, c.name.c_str(), ours, lo,
                        pack, at(base + "memcpy"), ratio, goal,
                        ratio >= 0 && ratio <= goal ? "" : "  (missed)");
        }
    }
    std::printf("ratio = ours / faster peer; CPU time, best of the repetitions\n");
    std::printf("decode: OSCObject::from(OSCDatagram), in place over the received datagram's buffer\n");
    for (const char* op : {"parse", "copy"}) {
        for (const auto& c : all) {
            const std::string base = "/" + c.name + "/";
            double ours = at(op + base + "ours"), lo = at("decode" + base + "liblo"),
                   pack = at("decode" + base + "oscpack");
            double peer = lo < 0 ? pack : pack < 0 ? lo : std::min(lo, pack);
            double ratio = peer > 0 && ours > 0 ? ours / peer : -1;
            std::printf("%-8s %-16s %9.1f %9.1f %9.1f %9s %7.2f\n", op, c.name.c_str(), ours, lo, pack, "",
                        ratio);
        }
    }
    std::printf(
        "parse: OSCStandardDecoder::parseDatagram, what a receiver pays (a shared object in the "
        "datagram's buffer)\n"
        "copy: OSCObject::from(span), decoding bytes the codec does not own (one copy of long payloads)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=3";
    std::string quiet = "--benchmark_report_aggregates_only=true";
    bool given = false;
    for (char* a : args) given = given || std::string(a).starts_with("--benchmark_repetitions");
    if (!given) {
        args.push_back(repetitions.data());
        args.push_back(quiet.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    const auto all = cases();
    for (const auto& c : all) registerCase(c);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(all, reporter.nanoseconds);
    benchmark::Shutdown();
    return 0;
}
