// The application at venue scale: sixteen simulated mixers of 300 presets
// each, discovered, listed and synchronised by the controller as the desktop
// program does it, and shown in its main window on the offscreen platform. A
// sync is set against the same datagrams crossing loopback between two plain
// blocking sockets, in the same run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/MainController.h"
#include "app/PresetTreeModel.h"
#include "app/SourceListModel.h"
#include "app/ViewRules.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "support/NetNamespace.h"
#include "support/SimProcess.h"
#include "sync/PresetBytes.h"
#include "sync/StatusText.h"
#include "sync/TempFolder.h"
#include "ui/ItemViews.h"
#include "ui/MainWindow.h"

namespace {

using namespace zelto;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kMixers = 16;
constexpr int kPresets = 300;
constexpr int kBuiltIns = 2;  // every mixer adds its two built-in presets
constexpr int kRepetitions = 5;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The best (lowest) figure of each row over the repetitions.
std::map<std::string, double> best;
void record(const std::string& row, double value) {
    auto [it, fresh] = best.emplace(row, value);
    if (!fresh) it->second = std::min(it->second, value);
}
double bestOf(const std::string& row) {
    auto it = best.find(row);
    return it == best.end() ? -1 : it->second;
}

std::string mixerName(int m) {
    char text[16];
    std::snprintf(text, sizeof text, "Mixer%02d", m + 1);
    return text;
}

// Four stages of 300 presets, each stage's on four of the sixteen mixers:
// after a sync every mixer holds 1,200, whose list still fits one datagram.
constexpr int kStages = 4;
std::string stageOf(int mixer) {
    return "S" + std::to_string(mixer % kStages + 1);
}

// Forty acts, so the grouping has real groups to build.
std::string presetName(const std::string& owner, int p) {
    char text[64];
    std::snprintf(text, sizeof text, "Act%02d-%s-%03d", p % 40, owner.c_str(), p);
    return text;
}

// One small valid preset; every preset file of the run is a hard link to it.
const fs::path& presetTemplate() {
    static test::TempFolder folder;
    static const fs::path path = [] {
        auto bytes = test::presetBytes("Song");
        fs::path file = folder.path() + "Song.ZELTOshow";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }();
    return path;
}

void fillFolder(const std::string& folder, const std::string& owner) {
    for (int p = 0; p < kPresets; ++p)
        fs::create_hard_link(presetTemplate(), folder + presetName(owner, p) + ".ZELTOshow");
}

// Simulated mixers at 127.0.0.2 and up, each on a folder of its own.
struct Venue {
    std::deque<test::TempFolder> folders;
    std::vector<std::unique_ptr<test::SimProcess>> sims;  // stopped before their folders go
    std::vector<std::string> hosts;

    explicit Venue(int mixers) {
        for (int m = 0; m < mixers; ++m) {
            auto& folder = folders.emplace_back();
            fillFolder(folder.path(), stageOf(m));
            hosts.push_back("127.0.0." + std::to_string(m + 2));
            sims.push_back(std::make_unique<test::SimProcess>(
                hosts.back(), folder.path(),
                std::vector<std::string>{"--name", mixerName(m), "--serial", "SN" + std::to_string(m + 1),
                                         "--uid", "uid-" + std::to_string(m + 1)}));
        }
    }
};

// The application as the desktop program puts it together: settings, store,
// controller and, once asked for, the main window.
struct App {
    test::TempFolder config, syncFolder;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    IoPool pool{2};
    DataStore store;
    test::FakeUi ui;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::MainWindow> window;

    // `listTimeout`: how long a mixer may take to answer for its list (the
    // lists read again after a big sync wait until it took everything in).
    explicit App(bool localPresets, std::uint64_t listTimeout = 1'000'000'000) {
        if (localPresets) fillFolder(syncFolder.path(), "L");
        settings.setSyncDirectoryPath(syncFolder.path());
        ControllerOptions options;
        options.noBroadcast = true;
        options.monitorNetworkPath = false;
        options.timings.discoveryInterval = 1h;  // only the passes the benchmark asks for
        options.presetListTimeout = listTimeout;
        controller = std::make_unique<MainController>(pool, store, settings, ui, std::move(options));
        controller->start();
    }
    ~App() {
        window.reset();
        controller->shutDown();
    }

    // The main window, made once and shown (the discovery ran without it).
    ui::MainWindow& screen() {
        if (!window) {
            window = std::make_unique<ui::MainWindow>(*controller, ui);
            window->show();
        }
        return *window;
    }

    std::vector<PresetSourcePtr> mixerSources() const {
        std::vector<PresetSourcePtr> result;
        for (auto& source : store.sources())
            if (source->device()) result.push_back(source);
        return result;
    }
    bool discover(const std::vector<std::string>& hosts) {
        controller->setMixerAddresses(hosts);
        return test::waitUntil([&] { return mixerSources().size() == hosts.size(); }, 60s);
    }
};

std::unique_ptr<Venue> venue;
std::unique_ptr<App> loaded;  // the last discovery's application, for the selection
double peakAfterLoadingMiB = -1;

// User and system time of every thread of this process.
double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto msOf = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return msOf(usage.ru_utime) + msOf(usage.ru_stime);
}

double peakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// The mixers' own answer times on the path to their sources: a connect
// request answered with the first UserInfo, and the preset list, asked from a
// plain socket (best of five). The socket sits on an address of its own, so a
// mixer answers it and not a session of the application. Several mixers are
// asked at once, as a discovery pass asks them: they share the machine's
// cores, so each answers later than when alone, and that wait is theirs, not
// the application's.
struct Answers {
    double all = -1;           // until the last mixer's answers
    std::vector<double> each;  // per mixer, until its own answers
};

Answers askMixers(const std::vector<std::string>& hosts, std::uint32_t ownAddress) {
    Answers best;
    best.each.assign(hosts.size(), -1);
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(ownAddress);
    socklen_t length = sizeof self;
    timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
        ::close(fd);
        return best;
    }
    std::vector<sockaddr_in> mixers(hosts.size());
    std::map<std::uint32_t, std::size_t> indexOf;
    for (std::size_t m = 0; m < hosts.size(); ++m) {
        mixers[m].sin_family = AF_INET;
        mixers[m].sin_port = htons(ZeltoDevice::devicePort);
        ::inet_pton(AF_INET, hosts[m].c_str(), &mixers[m].sin_addr);
        indexOf[mixers[m].sin_addr.s_addr] = m;
    }
    auto connect =
        OSCMessage::make("/ZELTOorvel/control/ConnectRequest",
                         {OSCValue(std::int32_t(ntohs(self.sin_port))),
                          OSCValue(ZeltoDevice::connectRequestMagic), OSCValue(ZeltoDevice::clientTag)})
            ->encode();
    OSCBundle listRequest(OSCTimeTagNow);
    listRequest.add(*OSCMessage::make("/ZELTOorvel/control/RequestListOfPresets",
                                      {OSCValue(true), OSCValue(ZeltoDevice::clientTag)}));
    auto list = listRequest.encode();
    std::vector<std::uint8_t> in(65536);
    // Reads `answers` per mixer; the times are until each mixer's first, and
    // (last) until the last datagram.
    auto roundTrip = [&](const std::vector<std::uint8_t>& out, int answers) {
        std::vector<double> first(mixers.size() + 1, -1);
        auto start = Clock::now();
        for (auto& mixer : mixers)
            ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&mixer), sizeof mixer);
        for (std::size_t got = 0; got < mixers.size() * std::size_t(answers); ++got) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (::recvfrom(fd, in.data(), in.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength) < 0)
                return std::vector<double>();
            auto it = indexOf.find(from.sin_addr.s_addr);
            if (it != indexOf.end() && first[it->second] < 0) first[it->second] = ms(Clock::now() - start);
        }
        first.back() = ms(Clock::now() - start);
        return first;
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto c = roundTrip(connect, 2);  // two users: two UserInfo
        auto l = roundTrip(list, 1);
        if (c.empty() || l.empty()) continue;
        for (std::size_t m = 0; m < mixers.size(); ++m)
            if (c[m] >= 0 && l[m] >= 0 && (best.each[m] < 0 || c[m] + l[m] < best.each[m]))
                best.each[m] = c[m] + l[m];
        if (best.all < 0 || c.back() + l.back() < best.all) best.all = c.back() + l.back();
    }
    ::close(fd);
    return best;
}

// From each mixer's discovery answer (taken where the discoverer hands it to
// the controller) until the store holds the mixer's source with its list,
// less the mixer's own answer time: the larger of its time alone and its time
// when all are asked at once.
void BM_DiscoveryToSource(benchmark::State& state) {
    static std::map<std::string, double> ownAnswer;          // by uid
    static std::map<std::string, double> ownAnswerTogether;  // by uid
    if (!venue) {
        venue = std::make_unique<Venue>(kMixers);
        for (int m = 0; m < kMixers; ++m)
            ownAnswer["uid-" + std::to_string(m + 1)] = askMixers({venue->hosts[m]}, 0x7f000101).all;
        auto together = askMixers(venue->hosts, 0x7f000102);
        record("discovery all plain", together.all);
        for (int m = 0; m < kMixers; ++m)
            ownAnswerTogether["uid-" + std::to_string(m + 1)] = together.each[m];
    }
    for (auto _ : state) {
        loaded.reset();
        auto app = std::make_unique<App>(true);
        std::map<std::string, Clock::time_point> answered, stored;
        MainController& controller = *app->controller;
        controller.discoverer()->setNewDeviceHandler(
            [&answered, &controller](const OSCEndpoint& endpoint, const std::string& uid) {
                answered.emplace(uid, Clock::now());
                controller.discovered(endpoint, uid);
            });
        QObject::connect(&app->store, &DataStore::DataStoreSourceAdded,
                         [&stored](const PresetSourcePtr& source) {
                             if (source->device())
                                 stored.emplace(source->device()->uid().value_or(""), Clock::now());
                         });
        auto asked = Clock::now();
        if (!app->discover(venue->hosts)) {
            state.SkipWithError("not every mixer became a source");
            return;
        }
        auto all = Clock::now();
        for (auto& source : app->mixerSources()) {
            if (source->presets().size() != kPresets + kBuiltIns) {
                state.SkipWithError("a source lacks presets");
                return;
            }
        }
        double worst = 0, sum = 0, rawWorst = 0, own = 0, ownTogether = 0;
        for (auto& [uid, at] : stored) {
            double raw = ms(at - answered.at(uid));
            double latency = raw - std::max({0.0, ownAnswer[uid], ownAnswerTogether[uid]});
            worst = std::max(worst, latency);
            rawWorst = std::max(rawWorst, raw);
            sum += latency;
            own = std::max(own, ownAnswer[uid]);
            ownTogether = std::max(ownTogether, ownAnswerTogether[uid]);
        }
        state.SetIterationTime(worst / 1000);
        record("discovery worst", worst);
        record("discovery raw worst", rawWorst);
        record("discovery own", own);
        record("discovery own together", ownTogether);
        record("discovery mean", sum / kMixers);
        record("discovery all", ms(all - asked));
        loaded = std::move(app);
    }
}

// GUI-thread figures of one step: CPU time of this thread, and wall time.
struct GuiTime {
    double cpu = 0, wall = 0;
};

double threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// What the window does until the user sees a change: the events it posted
// (the models follow the store on a later turn), the views' delayed layouts
// and a paint of both lists.
void showOnScreen(ui::MainWindow& window) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    (void)window.sourceView()->viewport()->grab();
    (void)window.presetView()->viewport()->grab();
}

template <class Step>
GuiTime timeOnScreen(ui::MainWindow& window, Step step) {
    const double cpu = threadCpuMs();
    const auto start = Clock::now();
    step();
    showOnScreen(window);
    return {threadCpuMs() - cpu, ms(Clock::now() - start)};
}

std::size_t presetRows(const PresetTreeModel& model) {
    std::size_t rows = 0;
    for (int g = 0; g < model.rowCount(); ++g) rows += std::size_t(model.rowCount(model.index(g, 0)));
    return rows;
}

// Selecting every source row in the main window, from the local folder's
// row alone: models and views, until both lists are painted.
void BM_SelectAllSources(benchmark::State& state) {
    if (!loaded) {
        state.SkipWithError("the sources were not loaded");
        return;
    }
    auto& window = loaded->screen();
    if (!test::waitUntil([&] { return window.sourceModel().rowCount() == kMixers + 1; }, 10s)) {
        state.SkipWithError("the sources were not loaded");
        return;
    }
    auto& sources = *window.sourceView();
    std::size_t shown = 0;
    for (auto _ : state) {
        sources.setCurrentIndex(window.sourceModel().index(0));
        sources.selectionModel()->select(window.sourceModel().index(0), QItemSelectionModel::ClearAndSelect);
        showOnScreen(window);
        const auto took = timeOnScreen(window, [&] { sources.selectAll(); });
        state.SetIterationTime(took.wall / 1000);
        record("select gui cpu", took.cpu);
        record("select gui wall", took.wall);
        shown = presetRows(window.presetModel());
    }
    state.counters["presets"] = static_cast<double>(shown);
    state.counters["groups"] = static_cast<double>(window.presetModel().groups().size());
    record("select presets", static_cast<double>(shown));
    peakAfterLoadingMiB = peakMemoryMiB();
}

// One mixer's list read again with changes, every source selected and the
// preset view scrolled into its middle: models and views, until both lists
// are painted. The list changes back and forth between its first form and one
// with ten presets gone, ten added (one of them the only one of its group)
// and a new group of two.
void BM_ApplyChangedList(benchmark::State& state) {
    if (!loaded || !loaded->window) {
        state.SkipWithError("the window was not shown");
        return;
    }
    auto& window = *loaded->window;
    window.sourceView()->selectAll();
    showOnScreen(window);
    const auto source = window.sourceModel().sourceAt(5);
    const auto first = source->presets();
    auto changed = first;
    changed.erase(changed.begin() + 100, changed.begin() + 110);
    for (int p = 0; p < 9; ++p) changed.emplace_back(presetName("X", 900 + p));
    changed.emplace_back("Lonely-1");
    changed.emplace_back("Encore-1");
    changed.emplace_back("Encore-2");
    auto* scroll = window.presetView()->verticalScrollBar();
    scroll->setValue(scroll->maximum() / 2);
    bool back = false;
    for (auto _ : state) {
        const auto& list = back ? first : changed;
        back = !back;
        const auto took = timeOnScreen(window, [&] { loaded->store.setPresets(list, source->device()); });
        if (window.presetModel().indexOf(source->device(), "Encore-1").isValid() != back) {
            state.SkipWithError("the changed list was not shown");
            return;
        }
        state.SetIterationTime(took.wall / 1000);
        record("apply gui cpu", took.cpu);
        record("apply gui wall", took.wall);
    }
    state.counters["presets"] = static_cast<double>(presetRows(window.presetModel()));
}

// What a sync of `mixers` mixers moves with an empty folder: every stage's
// presets fetched once from its first mixer (the mixer's segments), then sent
// to every mixer of another stage (the application's segments). One entry
// per datagram, its size.
std::vector<std::size_t> syncDatagrams(int mixers) {
    const auto size = static_cast<std::size_t>(fs::file_size(presetTemplate()));
    const std::vector<std::uint8_t> bytes(size, 0x5a);
    const auto total =
        static_cast<std::int32_t>((size + ZeltoDevice::segmentSize - 1) / ZeltoDevice::segmentSize);
    std::vector<std::size_t> sizes;
    for (int from = 0; from < std::min(mixers, kStages); ++from) {
        for (int p = 0; p < kPresets; ++p) {
            const std::string file = presetName(stageOf(from), p) + ".ZELTOshow";
            for (std::int32_t index = 0; index < total; ++index) {
                std::size_t begin = static_cast<std::size_t>(index) * ZeltoDevice::segmentSize;
                std::span part(bytes.data() + begin, std::min(ZeltoDevice::segmentSize, size - begin));
                auto fetched = OSCMessage::make(
                    "/ZELTOapp/control/PresetSeg",
                    {OSCValue(file), OSCValue::blob(part), OSCValue(index), OSCValue(total),
                     OSCValue(mixerName(from)), OSCValue("uid-" + std::to_string(from + 1))});
                auto sent =
                    OSCMessage::make("/ZELTOorvel/control/presetSeg",
                                     {OSCValue(file), OSCValue::blob(part), OSCValue(index), OSCValue(total),
                                      OSCValue(""), OSCValue(false), OSCValue("qv42")});
                sizes.push_back(fetched->encode().size());
                for (int to = 0; to < mixers; ++to)
                    if (stageOf(to) != stageOf(from)) sizes.push_back(sent->encode().size());
            }
        }
    }
    return sizes;
}

double megabytes(const std::vector<std::size_t>& sizes) {
    std::size_t sum = 0;
    for (auto s : sizes) sum += s;
    return static_cast<double>(sum) / 1e6;
}

// A sync of all mixers into an empty folder, until the controller's run has
// ended: the fetches, the sends and the lists read again afterwards (which the
// mixers answer only once they took in everything sent before).
void BM_Sync(benchmark::State& state) {
    const int mixers = static_cast<int>(state.range(0));
    for (auto _ : state) {
        loaded.reset();
        venue.reset();
        Venue rig(mixers);
        App app(false, 300'000'000'000);
        if (!app.discover(rig.hosts)) {
            state.SkipWithError("not every mixer became a source");
            return;
        }
        bool finished = false;
        Clock::time_point engineDone, firstSend;
        QObject::connect(app.controller.get(), &MainController::runFinished,
                         [&finished] { finished = true; });
        QObject::connect(
            &app.controller->statusLog(), &StatusLog::lineAppended,
            [&engineDone, &firstSend](const QString& text, bool) {
                if (text == QLatin1String(statustext::syncFinished)) engineDone = Clock::now();
                if (firstSend == Clock::time_point() && text.startsWith(QLatin1String("sent preset ")))
                    firstSend = Clock::now();
            });
        const double cpuBefore = processCpuMs();
        auto start = Clock::now();
        app.controller->syncAll();
        if (!test::waitUntil([&] { return finished; }, 600s)) {
            state.SkipWithError("the sync did not end");
            return;
        }
        auto took = Clock::now() - start;
        const double cpu = processCpuMs() - cpuBefore;
        state.SetIterationTime(std::chrono::duration<double>(took).count());

        // Every mixer ends with every preset and its built-ins, the folder with every mixer's.
        const std::size_t everything = std::size_t(std::min(mixers, kStages)) * kPresets;
        std::size_t missingOnMixers = 0, missingLocally = everything;
        for (auto& source : app.mixerSources())
            missingOnMixers +=
                everything + kBuiltIns - std::min(source->presets().size(), everything + kBuiltIns);
        if (auto local = app.store.localSource())
            missingLocally -= std::min(local->presets().size(), everything);
        int errors = 0;
        for (auto& line : app.controller->statusLog().lines()) errors += line.isError;
        if (missingOnMixers > 0 || missingLocally > 0 || errors > 0) {
            auto text = "the sync left presets out: " + std::to_string(missingOnMixers) + " on the mixers, " +
                        std::to_string(missingLocally) + " in the folder, " + std::to_string(errors) +
                        " errors logged";
            state.SkipWithError(text.c_str());
            return;
        }
        record("sync " + std::to_string(mixers), ms(took));
        record("engine " + std::to_string(mixers), ms(engineDone - start));
        record("fetch " + std::to_string(mixers),
               ms((firstSend == Clock::time_point() ? engineDone : firstSend) - start));
        record("cpu " + std::to_string(mixers), cpu);
        state.counters["app_cpu_ms"] = cpu;
        state.counters["engine_ms"] = ms(engineDone - start);
    }
    state.counters["MB"] = megabytes(syncDatagrams(mixers));
}

// The sync's datagrams, same count and sizes, from a blocking sender thread to
// a blocking receive loop on loopback. The sender stays a window ahead, so the
// receiver's buffer never overflows.
void BM_PlainDatagrams(benchmark::State& state) {
    const int mixers = static_cast<int>(state.range(0));
    const auto sizes = syncDatagrams(mixers);
    int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int buffer = 8 << 20;
    timeval limit{2, 0};
    if (::bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("no loopback sockets");
        ::close(receiver);
        ::close(sender);
        return;
    }
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    constexpr std::size_t window = 1024;
    std::vector<std::uint8_t> payload(65536, 0x5a), in(65536);
    for (auto _ : state) {
        std::atomic<std::size_t> received{0};
        std::atomic<bool> lost{false};
        const double cpuBefore = processCpuMs();
        auto start = Clock::now();
        std::thread sending([&] {
            for (std::size_t i = 0; i < sizes.size() && !lost; ++i) {
                while (i - received.load(std::memory_order_acquire) >= window && !lost)
                    std::this_thread::yield();
                (void)!::send(sender, payload.data(), sizes[i], 0);
            }
        });
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (::recv(receiver, in.data(), in.size(), 0) < 0) {
                lost = true;
                break;
            }
            received.store(i + 1, std::memory_order_release);
        }
        sending.join();
        auto took = Clock::now() - start;
        record("plain cpu " + std::to_string(mixers), processCpuMs() - cpuBefore);
        if (lost) {
            state.SkipWithError("a datagram was lost on loopback");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(took).count());
        record("plain " + std::to_string(mixers), ms(took));
    }
    ::close(receiver);
    ::close(sender);
    state.counters["MB"] = megabytes(sizes);
    state.counters["datagrams"] = static_cast<double>(sizes.size());
}

void printTable() {
    auto missed = [](double value, double goal) { return value >= 0 && value <= goal ? "" : "  (missed)"; };
    std::printf("\n%-62s %10s %10s %7s %8s\n", "row (best of the repetitions)", "app", "peer", "ratio",
                "goal");
    double worst = bestOf("discovery worst");
    std::printf("%-62s %7.1f ms %10s %7s %5d ms%s\n",
                "discovery answer -> source with its list, worst of 16 mixers", worst, "", "", 20,
                missed(worst, 20));
    std::printf("%-62s %7.1f ms\n", "  mean of the 16 mixers", bestOf("discovery mean"));
    std::printf("%-62s %7.1f ms\n", "  worst before subtracting the mixer's own answers",
                bestOf("discovery raw worst"));
    std::printf("%-62s %7.1f ms\n", "  a mixer's own answers (connect + list, idle, slowest mixer)",
                bestOf("discovery own"));
    std::printf("%-62s %7.1f ms\n", "  a mixer's own answers, all asked at once (slowest mixer)",
                bestOf("discovery own together"));
    std::printf("%-62s %7.1f ms\n", "  one pass -> all 16 sources (includes the mixers' answers)",
                bestOf("discovery all"));
    std::printf("%-62s %7.1f ms\n", "  16 mixers asked at once, plain socket (connect + list)",
                bestOf("discovery all plain"));
    std::printf("%-62s %7.1f ms\n", "  the application's share of one pass, per mixer",
                (bestOf("discovery all") - bestOf("discovery all plain")) / kMixers);
    char row[96];
    std::snprintf(row, sizeof row, "select all 17 sources (%.0f presets): GUI-thread CPU",
                  bestOf("select presets"));
    double select = bestOf("select gui cpu");
    std::printf("%-62s %7.1f ms %10s %7s %5d ms%s\n", row, select, "", "", 16, missed(select, 16));
    std::printf("%-62s %7.1f ms\n", "  wall time (models and views, until both lists are painted)",
                bestOf("select gui wall"));
    double apply = bestOf("apply gui cpu");
    std::printf("%-62s %7.1f ms %10s %7s %5d ms%s\n", "apply one mixer's changed list: GUI-thread CPU", apply,
                "", "", 16, missed(apply, 16));
    std::printf("%-62s %7.1f ms\n", "  wall time (models and views, until both lists are painted)",
                bestOf("apply gui wall"));
    std::printf("%-62s %6.1f MiB %10s %7s %4d MiB%s\n",
                "peak memory of the application (VmHWM) after loading", peakAfterLoadingMiB, "", "", 120,
                missed(peakAfterLoadingMiB, 120));
    double sync16 = bestOf("sync 16"), plain16 = bestOf("plain 16");
    double ratio = sync16 > 0 && plain16 > 0 ? sync16 / plain16 : -1;
    std::printf("%-62s %7.0f ms %7.0f ms %6.1fx %7.0fx%s\n",
                "sync of 16 mixers, empty folder / same datagrams plain", sync16, plain16, ratio, 5.0,
                missed(ratio, 5));
    std::printf("%-62s %7.0f ms %7.0f ms %6.1fx\n", "  the sync itself (until its last send was handed over)",
                bestOf("engine 16"), plain16, bestOf("engine 16") / plain16);
    std::printf("%-62s %7.0f ms %7.0f ms %6.1fx\n", "  CPU time of the application / of the plain sockets",
                bestOf("cpu 16"), bestOf("plain cpu 16"), bestOf("cpu 16") / bestOf("plain cpu 16"));
    std::printf("\ngrowth of the sync (best of the repetitions; fetch = until the first send)\n");
    std::printf("%8s %10s %10s %10s %10s %10s %10s %10s %8s\n", "mixers", "MB moved", "datagrams", "sync ms",
                "ms per MB", "fetch ms", "engine ms", "app CPU ms", "plain ms");
    double first = -1;
    for (int n : {1, 4, 16}) {
        const auto key = std::to_string(n);
        double sync = bestOf("sync " + key), plain = bestOf("plain " + key);
        const auto sizes = syncDatagrams(n);
        double mb = megabytes(sizes);
        if (first < 0 && sync > 0) first = sync / mb;
        std::printf("%8d %10.1f %10zu %10.0f %10.1f %10.0f %10.0f %10.0f %8.0f\n", n, mb, sizes.size(), sync,
                    sync / mb, bestOf("fetch " + key), bestOf("engine " + key), bestOf("cpu " + key), plain);
    }
    // Linear or better: the time grows no faster than the datagrams moved.
    auto growth = [](int from, int to) {
        double time = bestOf("sync " + std::to_string(to)) / bestOf("sync " + std::to_string(from));
        double work = double(syncDatagrams(to).size()) / double(syncDatagrams(from).size());
        std::printf("%d -> %d mixers: datagrams x%.1f, time x%.1f (%s)\n", from, to, work, time,
                    time > 0 && time <= work * 1.1 ? "linear or better" : "worse than linear");
    };
    growth(1, 4);
    growth(4, 16);
}

}  // namespace

BENCHMARK(BM_DiscoveryToSource)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectAllSources)
    ->Iterations(10)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyChangedList)
    ->Iterations(10)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// 1, 4 and 16 mixers, once per repetition.
void growing(benchmark::internal::Benchmark* b) {
    b->Arg(1)
        ->Arg(4)
        ->Arg(16)
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Sync)->Apply(growing);
BENCHMARK(BM_PlainDatagrams)->Apply(growing);

int main(int argc, char** argv) {
    // The simulators bind the protocol's fixed ports: a private network
    // namespace, made before any thread starts, keeps every datagram of the
    // run off the machine's interfaces.
    if (auto error = test::enterPrivateNetwork(); !error.empty()) {
        std::fprintf(stderr, "bench_app needs a private network namespace (run as root): %s\n",
                     error.c_str());
        return 1;
    }
    // Preset folders (the mixers' and the sync folder) live in memory when the
    // machine has a memory file system, so its disk does not decide the
    // figures: the mixers' storage is not what this measures. TMPDIR, when
    // set, is kept.
    std::error_code ec;
    if (!std::getenv("TMPDIR") && fs::is_directory("/dev/shm", ec)) ::setenv("TMPDIR", "/dev/shm", 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's geometry is kept apart from the user's own settings.
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setOrganizationName(QStringLiteral("Zelto"));
    QApplication::setApplicationName(QStringLiteral("zelto-presets-bench"));
    QApplication qt(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printTable();
    loaded.reset();
    venue.reset();
    benchmark::Shutdown();
    return 0;
}
