// The manager against simulated mixers on loopback addresses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/RecordingDelegate.h"
#include "sync/SyncPlan.h"
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
    m.timeouts.list = 300'000'000;
    events->onEvent = [&](const std::string& line) {
        if (line == "fetch FromB 127.0.0.3") b.sim->pause();
    };
    rig.run(m.syncDevices());
    b.sim->resume();
    // Asked three times in all before giving up; the frozen mixer takes the requests in once thawed.
    EXPECT_TRUE(b.sim->waitForCount("presetCopyToUSB, values: [\"FromB\"", 3))
        << testing::PrintToString(b.sim->lines());
    auto log = events->snapshot();
    // The planned send of FromB is a failed item too: nothing was there to send. The frozen
    // mixer lists nothing, so the send of FromA to it is not known to have arrived.
    EXPECT_EQ(matching(log, "fail"),
              sorted({"fail confirm FromA 127.0.0.3 presetNotStored", "fail fetch FromB 127.0.0.3",
                      "fail send FromB 127.0.0.2 presetDoesNotExist"}));
    EXPECT_EQ(m.failedItems(), 3);
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

std::chrono::system_clock::time_point modifiedAt(const std::string& path) {
    auto time = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path));
    return std::chrono::floor<std::chrono::milliseconds>(time);
}

TEST_F(Sync, ASecondSyncOfRealisticNamesMovesNothing) {
    const std::string dated = "Show *[2020-01-01T00:00:00.000Z]";
    const std::string markup = "Band <Main> & \"Mon\" 'B'";
    auto& a = rig.add({{dated, presetBytes("Show")},
                       {markup, presetBytes("Band")},
                       {"Old.ZELTOshow copy", presetBytes("Old")}});
    auto listed = *parseIsoDate("2021-05-01T10:00:00.123Z");
    std::filesystem::last_write_time(a.folder->path() + markup + ".ZELTOshow",
                                     std::chrono::file_clock::from_sys(listed));
    // This mixer names the segments of a preset with its date.
    auto& b =
        rig.add({{"Gig *[2019-03-03T03:03:03.000Z]", presetBytes("Gig")}, {"Plain", presetBytes("Plain")}},
                {"--dated-segments"});
    writeLocal("default (PRESET)", presetBytes("my own default"));
    writeLocal("Mine *[2021-05-01T10:00:00.000Z]", presetBytes("Mine"));
    rig.connectAll();
    auto m = manager(rig.devices());
    m.timeouts.preset = 2'000'000'000;

    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{});
    EXPECT_EQ(matching(log, "write "),
              sorted({"write " + dated, "write " + markup, "write Old.ZELTOshow copy",
                      "write Gig *[2019-03-03T03:03:03.000Z]", "write Plain"}));
    EXPECT_EQ(modifiedAt(local.path() + markup + ".ZELTOshow"), listed) << "the date its mixer listed";
    EXPECT_EQ(fileBytes(local.path() + "Old.ZELTOshow copy.ZELTOshow"), presetBytes("Old"));
    EXPECT_EQ(fileBytes(local.path() + "default (PRESET).ZELTOshow"), presetBytes("my own default"));
    // Each mixer stores what it lacked before the second sync asks for the lists.
    ASSERT_TRUE(a.sim->waitForCount("stored preset ", 3)) << testing::PrintToString(a.sim->lines());
    ASSERT_TRUE(b.sim->waitForCount("stored preset ", 4)) << testing::PrintToString(b.sim->lines());

    events->log.clear();
    rig.run(m.syncDevices());
    log = events->snapshot();
    for (const char* moved : {"fetch ", "write ", "send ", "fail"})
        EXPECT_EQ(matching(log, moved), std::vector<std::string>{}) << moved;
    EXPECT_EQ(log.back(), "finish");
    for (auto* mixer : {&a, &b}) {
        EXPECT_EQ(mixer->sim->countLines("reassembled preset default"), 0) << "a built-in was sent";
        EXPECT_EQ(mixer->sim->countLines("stored preset "), mixer == &a ? 3 : 4);
    }
}

// Names with several date suffixes, without a blank before one, with one in
// the middle or malformed: the dry-run plan names exactly what the sync then
// moves, every file is its listed name, mixers receive plain names only, and a
// second sync moves nothing.
TEST_F(Sync, ThePlanTheFilesAndASecondSyncAgreeOnNamesWithSeveralDateSuffixes) {
    const std::string d1 = " *[2019-01-01T00:00:00.000Z]", d2 = " *[2020-02-02T00:00:00.000Z]";
    const std::vector<std::string> onA = {"Two" + d1, "Three" + d1 + d2, "Tight*[2019-01-01T00:00:00.000Z]",
                                          "Mid" + d1 + " x", "Short *[2019-01-01]"};
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> presets;
    for (auto& n : onA) presets.emplace_back(n, presetBytes(n));
    rig.add(presets);
    rig.add({{"Three" + d2, presetBytes("Three on B")}});
    writeLocal("Local" + d1 + d2, presetBytes("Local"));
    rig.connectAll();
    auto m = manager(rig.devices());

    RequiredPresets lists;
    for (auto& device : rig.devices()) {
        auto list = rig.run(device->requestPresetList(1'000'000'000));
        std::erase_if(list, [](auto& p) { return ZeltoPresetManager::isBuiltInPreset(p.name); });
        lists.emplace_back(device, list);
    }
    auto plan = planSync(ZeltoPresetManager::localPresetList(local.path()), lists);
    std::vector<std::string> planned;
    for (auto& f : plan.fetches) planned.push_back("fetch " + f.preset.name + " " + f.from->ip().to_string());
    for (auto& s : plan.sends) planned.push_back("send " + s.name + " " + s.to->ip().to_string());

    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{});
    auto moved = matching(log, "fetch ");
    for (auto& l : matching(log, "send ")) moved.push_back(l);
    EXPECT_EQ(sorted(planned), sorted(moved));
    std::vector<std::string> files = {"Local" + d1 + d2 + ".ZELTOshow"};
    for (auto& p : lists[0].second) files.push_back(p.name + ".ZELTOshow");
    EXPECT_EQ(local.entries(), sorted(files)) << "a fetched preset is written under its listed name";

    ASSERT_TRUE(rig.mixers[0].sim->waitForCount("stored preset ", 1));
    ASSERT_TRUE(rig.mixers[1].sim->waitForCount("stored preset ", 5));
    events->log.clear();
    rig.run(m.syncDevices());
    for (const char* again : {"fetch ", "write ", "send ", "fail"})
        EXPECT_EQ(matching(events->snapshot(), again), std::vector<std::string>{}) << again;
}

class Cancel : public Sync {
  protected:
    // Runs `work` with a cancellation slot on a strand of the rig's pool and
    // emits a terminal cancellation there once `line` is logged (at once when
    // empty, that is as soon as the work waits). The case it ended with.
    ZeltoPresetManagerError::Case cancelAt(Task<void> work, const std::string& line = {},
                                           std::function<void()> before = {}) {
        auto strand = asio::make_strand(rig.executor());
        asio::cancellation_signal signal;
        std::chrono::steady_clock::time_point emitted;
        auto emit = [&] {
            emitted = std::chrono::steady_clock::now();
            signal.emit(asio::cancellation_type::terminal);
        };
        events->onEvent = [&](const std::string& event) {
            if (event != line) return;
            if (before) before();
            asio::post(strand, emit);
        };
        std::promise<void> done;
        auto future = done.get_future();
        asio::co_spawn(strand, std::move(work),
                       asio::bind_cancellation_slot(signal.slot(), [&](std::exception_ptr error) {
                           reaction = std::chrono::steady_clock::now() - emitted;
                           if (error)
                               done.set_exception(error);
                           else
                               done.set_value();
                       }));
        if (line.empty()) asio::post(strand, emit);
        bool ended = future.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        events->onEvent = nullptr;
        if (!ended) throw std::runtime_error("the cancelled work did not end");
        try {
            future.get();
        } catch (const ZeltoPresetManagerError& e) {
            return e.errorCase();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected error " << e.what();
            return ZeltoPresetManagerError::Case::emptyPreset;
        }
        ADD_FAILURE() << "not cancelled";
        return ZeltoPresetManagerError::Case::emptyPreset;
    }
    std::chrono::steady_clock::duration reaction{};
};

TEST_F(Cancel, SyncEndsAtOnceInAFetchOrAListWritingNothing) {
    auto& a = rig.add({{"FromA", presetBytes("FromA", 20000)}});
    rig.connectAll();
    auto m = manager(rig.devices());
    // The mixer freezes as the fetch is asked for: the sync waits on the fetch.
    EXPECT_EQ(cancelAt(m.syncDevices(), "fetch FromA 127.0.0.2", [&] { a.sim->pause(); }),
              ZeltoPresetManagerError::Case::cancelled);
    EXPECT_LT(reaction, std::chrono::milliseconds(100));
    a.sim->resume();
    EXPECT_EQ(events->snapshot().back(), "finish");
    EXPECT_EQ(matching(events->snapshot(), "fail"), std::vector<std::string>{});
    EXPECT_EQ(matching(events->snapshot(), "send "), std::vector<std::string>{});
    EXPECT_TRUE(local.entries().empty());

    a.sim->pause();
    EXPECT_EQ(cancelAt(m.syncDevices()), ZeltoPresetManagerError::Case::cancelled);
    EXPECT_LT(reaction, std::chrono::milliseconds(100));
    a.sim->resume();
    EXPECT_TRUE(local.entries().empty());
}

TEST_F(Cancel, CopyEndsAtOnce) {
    auto& a = rig.add({{"FromA", presetBytes("FromA")}});
    rig.connectAll();
    auto m = manager({});
    a.sim->pause();
    EXPECT_EQ(cancelAt(m.copyPreset("FromA", a.device, nullptr)), ZeltoPresetManagerError::Case::cancelled);
    EXPECT_LT(reaction, std::chrono::milliseconds(100));
    a.sim->resume();
    EXPECT_TRUE(local.entries().empty());
}

TEST_F(Cancel, SyncEndsAtOnceWhileItWaitsForAMixerToListWhatItSent) {
    rig.add({}, test::SimFaults{.dropPresets = 1}.arguments());
    writeLocal("L", presetBytes("L"));
    rig.connectAll();
    auto m = manager(rig.devices());
    m.timeouts.storeWindow = std::chrono::seconds(10);
    // After the send the sync asks for the list, then waits between asks.
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(cancelAt(m.syncDevices(), "send L 127.0.0.2"), ZeltoPresetManagerError::Case::cancelled);
    EXPECT_LT(reaction, std::chrono::milliseconds(100));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "the window ran out";
    EXPECT_EQ(matching(events->snapshot(), "resend "), std::vector<std::string>{});
    EXPECT_EQ(matching(events->snapshot(), "fail"), std::vector<std::string>{});
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

namespace zelto {
namespace {

TEST_F(Sync, ALostListAnswerIsAskedForAgainInASyncAndACopy) {
    auto& a = rig.add({{"A", presetBytes("A")}}, {"--ignore-list-requests", "2"});
    rig.connectAll();
    auto m = manager(rig.devices());
    m.timeouts.list = 300'000'000;
    rig.run(m.syncDevices());
    EXPECT_EQ(matching(events->snapshot(), "fail"), std::vector<std::string>{});
    EXPECT_EQ(local.entries(), std::vector<std::string>{"A.ZELTOshow"});
    EXPECT_EQ(m.failedItems(), 0);
    EXPECT_TRUE(a.sim->waitForCount("RequestListOfPresets", 3));
}

TEST_F(Sync, APlannedSendWhoseFileVanishedIsAFailedItemNotASilentStop) {
    rig.add({});
    writeLocal("First", presetBytes("First"));
    writeLocal("Second", presetBytes("Second"));
    rig.connectAll();
    auto m = manager(rig.devices());
    // The folder loses a file between the plan and the sends.
    int localLists = 0;
    events->onEvent = [&](const std::string& line) {
        if (line == "request list local" && ++localLists == 2)
            std::filesystem::remove(local.path() + "First.ZELTOshow");
    };
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail send"), std::vector<std::string>{"fail send First 127.0.0.2 presetDoesNotExist"});
    EXPECT_EQ(matching(log, "send "), std::vector<std::string>{"send Second 127.0.0.2"});
    EXPECT_EQ(m.failedItems(), 1);
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

// A mixer drops a preset that lost a segment without a word; only its list,
// read again after the sends, tells.
class CheckedSend : public Sync {
  protected:
    ZeltoPresetManager checkedManager(std::vector<DevicePtr> devices) {
        auto m = manager(std::move(devices));
        // Short, because a mixer that dropped a preset never lists it late.
        m.timeouts.storeWindow = std::chrono::milliseconds(500);
        return m;
    }
};

TEST_F(CheckedSend, APresetTheMixerDroppedIsSentAgainAndTheSyncSucceeds) {
    auto& a = rig.add({{"FromA", presetBytes("FromA", 2500)}});
    auto& b = rig.add({}, test::SimFaults{.dropPresets = 1}.arguments());
    writeLocal("Local", presetBytes("Local"));
    rig.connectAll();
    auto m = checkedManager(rig.devices());
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{});
    EXPECT_EQ(m.failedItems(), 0);
    EXPECT_EQ(matching(log, "resend ").size(), 1u) << testing::PrintToString(log);
    EXPECT_EQ(b.sim->countLines("discarded preset "), 1);
    // Confirmed on the mixer's list, so its files are there now, not eventually.
    EXPECT_EQ(fileBytes(b.folder->path() + "FromA.ZELTOshow"),
              fileBytes(a.folder->path() + "FromA.ZELTOshow"));
    EXPECT_EQ(fileBytes(b.folder->path() + "Local.ZELTOshow"), presetBytes("Local"));
    EXPECT_EQ(fileBytes(a.folder->path() + "Local.ZELTOshow"), presetBytes("Local"));
}

TEST_F(CheckedSend, APresetStillMissingAfterTheResendsIsNamedAndCountedAsFailed) {
    rig.add({});
    auto& b = rig.add({}, test::SimFaults{.dropPresets = 1 + ZeltoPresetManager::kSendRetries}.arguments());
    writeLocal("Lost", presetBytes("Lost"));
    rig.connectAll();
    auto m = checkedManager(rig.devices());
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"), std::vector<std::string>{"fail confirm Lost 127.0.0.3 presetNotStored"});
    EXPECT_EQ(matching(log, "resend "),
              (std::vector<std::string>{"resend Lost 127.0.0.3", "resend Lost 127.0.0.3"}));
    EXPECT_EQ(m.failedItems(), 1);
    EXPECT_EQ(log.back(), "finish");
    EXPECT_EQ(b.sim->countLines("discarded preset Lost"), 3);
    EXPECT_FALSE(std::filesystem::exists(b.folder->path() + "Lost.ZELTOshow"));
    EXPECT_TRUE(std::filesystem::exists(rig.mixers[0].folder->path() + "Lost.ZELTOshow"));
}

TEST_F(CheckedSend, VerifyCatchesAPresetStoredWithOtherBytesAndSendsItAgain) {
    auto& once = rig.add({}, test::SimFaults{.corruptPresets = 1}.arguments());
    auto& always =
        rig.add({}, test::SimFaults{.corruptPresets = 1 + ZeltoPresetManager::kSendRetries}.arguments());
    writeLocal("Show", presetBytes("Show", 1500));
    rig.connectAll();
    auto m = checkedManager(rig.devices());
    m.verify = true;
    rig.run(m.syncDevices());
    auto log = events->snapshot();
    EXPECT_EQ(matching(log, "fail"),
              std::vector<std::string>{"fail confirm Show 127.0.0.3 presetStoredDifferently"});
    EXPECT_EQ(m.failedItems(), 1);
    EXPECT_EQ(fileBytes(once.folder->path() + "Show.ZELTOshow"), presetBytes("Show", 1500));
    EXPECT_NE(fileBytes(always.folder->path() + "Show.ZELTOshow"), presetBytes("Show", 1500));
}

class CheckedCopy : public CheckedSend {};

TEST_F(CheckedCopy, ACopyThatCannotReplaceAPresetPutsThePreviousOneBack) {
    auto& a = rig.add({{"P", presetBytes("P on A", 2500)}});
    // Drops every send of the copy, then takes the previous version back.
    auto& b = rig.add({{"P", presetBytes("P on B")}},
                      test::SimFaults{.dropPresets = 1 + ZeltoPresetManager::kSendRetries}.arguments());
    // Drops the restore as well.
    auto& c = rig.add({{"P", presetBytes("P on C")}},
                      test::SimFaults{.dropPresets = 2 * (1 + ZeltoPresetManager::kSendRetries)}.arguments());
    rig.connectAll();
    auto m = checkedManager({});
    auto copyCase = [&](const DevicePtr& to) {
        try {
            rig.run(m.copyPreset("P", a.device, to));
        } catch (const ZeltoPresetManagerError& e) {
            return e.errorCase();
        }
        return ZeltoPresetManagerError::Case::cancelled;
    };

    EXPECT_EQ(copyCase(b.device), ZeltoPresetManagerError::Case::presetNotStored);
    EXPECT_EQ(m.failedItems(), 1);
    EXPECT_EQ(matching(events->snapshot(), "fail"),
              std::vector<std::string>{"fail confirm P 127.0.0.3 presetNotStored"});
    EXPECT_EQ(matching(events->snapshot(), "restored"), std::vector<std::string>{"restored P 127.0.0.3"});
    EXPECT_EQ(fileBytes(b.folder->path() + "P.ZELTOshow"), presetBytes("P on B")) << "byte for byte";

    events->log.clear();
    EXPECT_EQ(copyCase(c.device), ZeltoPresetManagerError::Case::presetNotStored);
    EXPECT_EQ(matching(events->snapshot(), "fail"),
              sorted({"fail confirm P 127.0.0.4 presetNotStored", "fail restore P 127.0.0.4"}));
    EXPECT_FALSE(std::filesystem::exists(c.folder->path() + "P.ZELTOshow"));
}

TEST_F(CheckedCopy, AReplacingCopyThatArrivesSucceedsAndVerifies) {
    auto& a = rig.add({{"P", presetBytes("P on A", 2500)}});
    auto& b = rig.add({{"P", presetBytes("P on B")}}, test::SimFaults{.dropPresets = 1}.arguments());
    rig.connectAll();
    auto m = checkedManager({});
    m.verify = true;
    rig.run(m.copyPreset("P", a.device, b.device));
    EXPECT_EQ(m.failedItems(), 0);
    EXPECT_EQ(matching(events->snapshot(), "resend "), std::vector<std::string>{"resend P 127.0.0.3"});
    EXPECT_EQ(fileBytes(b.folder->path() + "P.ZELTOshow"), fileBytes(a.folder->path() + "P.ZELTOshow"));
}

}  // namespace
}  // namespace zelto
