// The manager against simulated mixers on loopback addresses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/RecordingDelegate.h"
#include "sync/TempFolder.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using test::fileBytes;
using test::presetBytes;

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> matching(const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& l : log) {
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return sorted(out);
}

auto holdsAll(std::vector<std::string> names) {
    return [names](const std::vector<std::string>& list) {
        return std::all_of(names.begin(), names.end(),
                           [&](auto& n) { return std::find(list.begin(), list.end(), n) != list.end(); });
    };
}

class Sync : public ::testing::Test {
  protected:
    test::TempFolder local;
    test::MixerRig rig;
    std::shared_ptr<test::RecordingDelegate> events = std::make_shared<test::RecordingDelegate>();

    ZeltoPresetManager manager(std::vector<DevicePtr> devices) {
        ZeltoPresetManager m(std::move(devices), local.path());
        m.delegate = events;
        return m;
    }
    void writeLocal(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        local.write(name + ".ZELTOshow", std::string(bytes.begin(), bytes.end()));
    }
};

TEST_F(Sync, EveryPresetMovesOnceAndBuiltInsNeverMove) {
    auto& a = rig.add({{"OnlyA", presetBytes("OnlyA", 3000)},
                       {"Both", presetBytes("Both A")},
                       {"Shared", presetBytes("Shared")}});
    auto& b = rig.add({{"Both", presetBytes("Both B")},
                       {"OnlyB", presetBytes("OnlyB")},
                       {"Shared", presetBytes("Shared")}});
    writeLocal("Both", presetBytes("Both local"));
    writeLocal("OnlyLocal", presetBytes("OnlyLocal"));
    rig.connectAll();

    auto m = manager(rig.devices());
    rig.run(m.syncDevices());
    auto log = events->snapshot();

    EXPECT_EQ(matching(log, "fetch "),
              sorted({"fetch OnlyA 127.0.0.2", "fetch OnlyB 127.0.0.3", "fetch Shared 127.0.0.2"}));
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{});
    EXPECT_EQ(matching(log, "send "), sorted({"send OnlyA 127.0.0.3", "send OnlyB 127.0.0.2",
                                              "send OnlyLocal 127.0.0.2", "send OnlyLocal 127.0.0.3"}));
    EXPECT_EQ(log.back(), "finish");
    EXPECT_EQ(local.entries(), sorted({"Both.ZELTOshow", "OnlyA.ZELTOshow", "OnlyB.ZELTOshow",
                                       "OnlyLocal.ZELTOshow", "Shared.ZELTOshow"}));
    EXPECT_EQ(fileBytes(local.path() + "OnlyA.ZELTOshow"), fileBytes(a.folder->path() + "OnlyA.ZELTOshow"));
    EXPECT_EQ(fileBytes(local.path() + "Both.ZELTOshow"), presetBytes("Both local"))
        << "an existing name is never replaced";
    EXPECT_EQ(fileBytes(b.folder->path() + "Both.ZELTOshow"), presetBytes("Both B"));

    auto onA = rig.presetNames(a, holdsAll({"OnlyB", "OnlyLocal"}));
    EXPECT_EQ(onA, sorted({"Both", "OnlyA", "OnlyB", "OnlyLocal", "Shared", "default (PRESET)",
                           "defaultOFF (PRESET)"}));
    auto onB = rig.presetNames(b, holdsAll({"OnlyA", "OnlyLocal"}));
    EXPECT_EQ(onB, sorted({"Both", "OnlyA", "OnlyB", "OnlyLocal", "Shared", "default (PRESET)",
                           "defaultOFF (PRESET)"}));
    EXPECT_EQ(fileBytes(b.folder->path() + "OnlyA.ZELTOshow"),
              fileBytes(a.folder->path() + "OnlyA.ZELTOshow"));
}

TEST_F(Sync, AMixerListedTwiceIsSynchronisedOnce) {
    rig.add({{"X", presetBytes("X")}});
    rig.connectAll();
    auto device = rig.mixers[0].device;
    auto m = manager({device, device});
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "request list 127"), std::vector<std::string>{"request list 127.0.0.2"});
    EXPECT_EQ(matching(log, "fetch "), std::vector<std::string>{"fetch X 127.0.0.2"});
    EXPECT_EQ(matching(log, "send "), std::vector<std::string>{});
}

TEST_F(Sync, AFetchThatNeverArrivesIsReportedAndTheSyncGoesOn) {
    rig.add({{"FromA", presetBytes("FromA")}});
    auto& b = rig.add({{"FromB", presetBytes("FromB")}});
    rig.connectAll();
    auto m = manager(rig.devices());
    m.timeouts.preset = 300'000'000;
    events->onEvent = [&](const std::string& line) {
        if (line == "fetch FromB 127.0.0.3") b.sim->pause();
    };
    rig.run(m.syncDevices());
    b.sim->resume();
    // Asked three times in all before giving up; the frozen mixer takes the requests in once thawed.
    EXPECT_TRUE(b.sim->waitForCount("presetCopyToUSB, values: [\"FromB\"", 3))
        << testing::PrintToString(b.sim->lines());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{"fail fetch FromB 127.0.0.3"});
    EXPECT_EQ(matching(log, "write "), std::vector<std::string>{"write FromA"});
    EXPECT_EQ(matching(log, "send "), std::vector<std::string>{"send FromA 127.0.0.3"});
    EXPECT_EQ(local.entries(), std::vector<std::string>{"FromA.ZELTOshow"});
    EXPECT_EQ(log.back(), "finish");
}

TEST_F(Sync, ASilentMixerEndsTheSyncAtItsList) {
    auto& a = rig.add({{"A", presetBytes("A")}});
    rig.add({{"B", presetBytes("B")}});
    rig.connectAll();
    auto m = manager(rig.devices());
    m.timeouts.list = 300'000'000;
    a.sim->pause();
    EXPECT_ANY_THROW(rig.run(m.syncDevices()));
    a.sim->resume();
    auto log = events->snapshot();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].rfind("fail list 127.0.0.2", 0), 0u) << log[log.size() - 2];
    EXPECT_EQ(log.back(), "finish");
    EXPECT_EQ(matching(log, "request list 127.0.0.3"), std::vector<std::string>{})
        << "later mixers are not asked";
}

TEST_F(Sync, MixerNamesThatAreNoFileNamesStayOutOfTheFolder) {
    rig.add({{"line\nbreak", presetBytes("x")}, {"bell\x07", presetBytes("y")}, {"ok", presetBytes("ok")}});
    rig.connectAll();
    auto m = manager(rig.devices());
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail "), sorted({"fail bell\x07 invalidPath", "fail line\nbreak invalidPath"}));
    EXPECT_EQ(local.entries(), std::vector<std::string>{"ok.ZELTOshow"});
    EXPECT_EQ(log.back(), "finish");
}

class Copy : public Sync {
  protected:
    void SetUp() override {
        a = &rig.add({{"P", presetBytes("P on A", 2500)}, {"OnlyA", presetBytes("OnlyA")}});
        b = &rig.add({{"P", presetBytes("P on B")}});
        rig.connectAll();
    }
    test::MixerRig::Mixer* a = nullptr;
    test::MixerRig::Mixer* b = nullptr;
};

TEST_F(Copy, MixerToMixerReplacesTheSameName) {
    auto m = manager({});
    rig.run(m.copyPreset("P", a->device, b->device));
    auto expected = fileBytes(a->folder->path() + "P.ZELTOshow");
    // Delete and store happen on the mixer after the datagrams; its list and file follow.
    rig.presetNames(*b, [&](auto&) { return fileBytes(b->folder->path() + "P.ZELTOshow") == expected; });
    EXPECT_EQ(fileBytes(b->folder->path() + "P.ZELTOshow"), expected);
}

TEST_F(Copy, MixerToLocalReplacesAFileAndNeverWritesThroughALink) {
    test::TempFolder outside;
    outside.write("target", "precious");
    ASSERT_EQ(::symlink((outside.path() + "target").c_str(), (local.path() + "P.ZELTOshow").c_str()), 0);
    auto m = manager({});
    rig.run(m.copyPreset("P", a->device, nullptr));
    EXPECT_EQ(events->snapshot(), (std::vector<std::string>{"overwrite P", "write P"}));
    EXPECT_EQ(fileBytes(local.path() + "P.ZELTOshow"), fileBytes(a->folder->path() + "P.ZELTOshow"));
    EXPECT_EQ(outside.read("target"), "precious");
}

TEST_F(Copy, LocalToMixerAndTheDegenerateCopies) {
    writeLocal("Fresh", presetBytes("Fresh"));
    auto m = manager({});
    rig.run(m.copyPreset("Fresh", nullptr, a->device));
    auto names = rig.presetNames(*a, holdsAll({"Fresh"}));
    EXPECT_TRUE(holdsAll({"Fresh"})(names));
    EXPECT_EQ(fileBytes(a->folder->path() + "Fresh.ZELTOshow"), presetBytes("Fresh"));

    rig.run(m.copyPreset("OnlyA", a->device, a->device));
    rig.run(m.copyPreset("Fresh", nullptr, nullptr));
    EXPECT_TRUE(events->snapshot().empty());
    try {
        rig.run(m.copyPreset("Nowhere", a->device, nullptr));
        FAIL() << "a name the source lacks must throw";
    } catch (const ZeltoPresetManagerError& e) {
        EXPECT_EQ(e.errorCase(), ZeltoPresetManagerError::Case::presetDoesNotExistAtSource);
    }
    EXPECT_EQ(local.entries(), std::vector<std::string>{"Fresh.ZELTOshow"});
}

}  // namespace
}  // namespace zelto
