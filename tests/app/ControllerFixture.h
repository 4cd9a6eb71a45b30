#pragma once

// The controller against simulated mixers on loopback addresses, on the
// main-thread executor, inside the test's own network namespace: what the
// controller suites share.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/AppTestSupport.h"
#include "app/MainController.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/TempFolder.h"

namespace zelto::test {

inline const std::string kSim1 = "Sim1 - SN1 @ 127.0.0.2";
inline const std::string kSim2 = "Sim2 - SN2 @ 127.0.0.3";

class ControllerFixture : public ::testing::Test {
  protected:
    MixerRig rig;
    TempFolder folder, config;
    AppSettings settings{QString::fromStdString(config.path() + "settings.ini")};
    IoPool pool{2};
    DataStore store;
    FakeUi ui;
    std::unique_ptr<MainController> controller;

    // The mixers added so far, asked by address; one discovery pass at
    // start-up, others on request; short protocol times.
    ControllerOptions options() {
        using namespace std::chrono_literals;
        ControllerOptions o;
        for (auto& m : rig.mixers) o.hosts.push_back(m.address);
        o.noBroadcast = true;
        o.monitorNetworkPath = false;
        o.timings.pingInterval = 100ms;
        o.timings.onlineWindow = 600ms;
        o.timings.discoveryInterval = 1h;
        return o;
    }
    void start(ControllerOptions o) {
        if (!settings.hasStoredSyncDirectory()) settings.setSyncDirectoryPath(folder.path());
        controller = std::make_unique<MainController>(pool, store, settings, ui, std::move(o));
        controller->start();
    }
    void TearDown() override {
        if (!controller) return;
        EXPECT_TRUE(controller->shutDown());
        EXPECT_EQ(controller->mainThread().outstanding(), 0u);
        EXPECT_FALSE(asio::has_service<asio::detail::scheduler>(controller->mainThread()))
            << "a timer or socket was made on the main thread's executor";
    }
    PresetSourcePtr source(const std::string& name) {
        for (auto& s : store.sources())
            if (s->name() == name) return s;
        return nullptr;
    }
    std::vector<std::string> names(const std::string& sourceName) {
        std::vector<std::string> result;
        if (auto s = source(sourceName))
            for (auto& p : s->presets()) result.push_back(p.name);
        std::sort(result.begin(), result.end());
        return result;
    }
    bool runEnds() {
        using namespace std::chrono_literals;
        return waitUntil([&] { return !controller->runActive() && controller->statusLog().isFinished(); }, 30s);
    }
    // The log's lines without dates (they depend on the files' times), errors marked.
    std::vector<std::string> log() {
        std::vector<std::string> lines;
        static const std::regex date(R"( \*\[[^\]]*\])");
        for (auto& l : controller->statusLog().lines())
            lines.push_back(std::regex_replace(l.text, date, "") + (l.isError ? " (error)" : ""));
        return lines;
    }
    std::vector<std::string> errorLines() {
        std::vector<std::string> lines;
        for (auto& l : controller->statusLog().lines())
            if (l.isError) lines.push_back(l.text);
        return lines;
    }
    void writeLocal(const std::string& name) {
        auto bytes = presetBytes(name);
        folder.write(name + ".ZELTOshow", std::string(bytes.begin(), bytes.end()));
    }
};

}  // namespace zelto::test
