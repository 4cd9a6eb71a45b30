// The zelto program as a user runs it, against simulated mixers on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "preset/Gzip.h"
#include "support/NetNamespace.h"
#include "support/SimProcess.h"
#include "sync/MixerRig.h"
#include "sync/PresetBytes.h"
#include "sync/ScratchMount.h"
#include "sync/TempFolder.h"
#include "sync/History.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using nlohmann::json;
using test::fileBytes;
using test::presetBytes;
using test::ProcessResult;

ProcessResult zelto(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), test::builtProgram("zelto"));
    return test::runProcess(args, input, std::chrono::seconds(120));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string str(const std::vector<std::uint8_t>& b) {
    return {b.begin(), b.end()};
}

TEST(ZeltoUsage, BadArgumentsExitWithTwoAndHelpWithZero) {
    const std::vector<std::vector<std::string>> usageErrors = {
        {},
        {"frobnicate"},
        {"copy", "P", "--from", "local"},
        {"discover", "--timeout", "soon"},
        {"pack", "in.xml"},
        {"copy", "P", "--from", "local", "--to", "local"},
        {"diff", "no-colon-and-no-file", "local:P"},
    };
    for (const auto& args : usageErrors) {
        auto r = zelto(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args) << r.err;
        EXPECT_FALSE(r.err.empty()) << testing::PrintToString(args);
    }
    for (std::string command : {"discover", "list", "sync", "copy", "load", "delete", "identify", "info", "show",
                                "pack", "history", "restore", "undo", "diff", "status"}) {
        auto r = zelto({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(contains(r.out, "zelto " + command + " [OPTIONS]")) << r.out;
    }
}

TEST(ZeltoFiles, PackThenShowGivesTheDocumentBack) {
    test::TempFolder dir;
    auto xml = gzip::decompress(presetBytes("Round trip"));
    dir.write("in.xml", str(xml));
    auto packed = zelto({"pack", dir.path() + "in.xml", "-o", dir.path() + "out.ZELTOshow"});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(gzip::decompress(fileBytes(dir.path() + "out.ZELTOshow")), xml);
    auto shown = zelto({"show", dir.path() + "out.ZELTOshow"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_TRUE(contains(shown.out, str(xml)));
    auto plain = zelto({"show", dir.path() + "in.xml"});
    EXPECT_EQ(plain.out, shown.out);
}

TEST(ZeltoFiles, DamagedOrMissingFilesFailWithAReason) {
    test::TempFolder dir;
    auto bytes = presetBytes("Damaged");
    bytes.resize(bytes.size() / 2);
    dir.write("half.ZELTOshow", str(bytes));
    dir.write("junk.xml", "<Preset><unclosed></Preset>");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"show", dir.path() + "half.ZELTOshow"},
                                               {"show", dir.path() + "missing"},
                                               {"pack", dir.path() + "junk.xml", "-o", dir.path() + "o"}}) {
        auto r = zelto(args);
        EXPECT_EQ(r.exitCode, 1) << testing::PrintToString(args);
        EXPECT_TRUE(contains(r.err, dir.path())) << r.err;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"half.ZELTOshow", "junk.xml"}));
}

// Two simulated mixers and an empty sync folder per test.
// Fingerprints of fetched presets go to a cache folder of the test's own.
class ZeltoCli : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_CACHE_HOME"); }
    test::TempFolder cache;
    test::TempFolder local;
    test::MixerRig rig;
    std::vector<std::string> hosts() const {
        std::vector<std::string> args = {"--no-broadcast"};
        for (auto& m : rig.mixers) args.insert(args.end(), {"--host", m.address});
        return args;
    }
    ProcessResult run(std::vector<std::string> args) {
        auto h = hosts();
        args.insert(args.end(), h.begin(), h.end());
        // Generous for loaded machines: with --no-broadcast the wait ends once every host answered.
        if (std::find(args.begin(), args.end(), "--timeout") == args.end())
            args.insert(args.end(), {"--timeout", "15"});
        return zelto(args);
    }
    ProcessResult runIn(std::vector<std::string> args) {
        args.insert(args.end(), {"--dir", local.path()});
        return run(args);
    }
    void writeLocal(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        local.write(name + ".ZELTOshow", str(bytes));
    }
};

TEST_F(ZeltoCli, DiscoverReportsEachMixerOnce) {
    rig.add({});
    rig.add({}, {"--users", "3", "--type", "ZELTO:tessa"});
    auto r = run({"discover", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto doc = json::parse(r.out);
    ASSERT_EQ(doc["mixers"].size(), 2u) << r.out;
    std::map<std::string, json> byAddress;
    for (auto& m : doc["mixers"]) byAddress[m["address"]] = m;
    EXPECT_EQ(byAddress["127.0.0.3"]["model"], "ZELTO:tessa");
    EXPECT_EQ(byAddress["127.0.0.3"]["uid"], "uid-2");
    EXPECT_EQ(byAddress["127.0.0.3"]["name"], "Sim2");
    EXPECT_EQ(byAddress["127.0.0.3"]["serialNumber"], "SN2");
    EXPECT_EQ(byAddress["127.0.0.3"]["mixes"], 3);

    auto table = run({"discover"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_TRUE(contains(table.out, "127.0.0.2\tuid-1\tZELTO:orvel\tSim1\tSN1\t")) << table.out;
}

TEST_F(ZeltoCli, BroadcastFindsAMixerOnAnotherNetwork) {
    // A veth pair inside this test's own network namespace: the tool on one end, a mixer on the other.
    ASSERT_EQ(test::runCommand("ip link add va type veth peer name vb && "
                               "ip addr add 10.9.0.1/24 broadcast 10.9.0.255 dev va && "
                               "ip addr add 10.9.0.2/24 broadcast 10.9.0.255 dev vb && "
                               "ip link set va up && ip link set vb up"),
              0);
    test::TempFolder folder;
    test::SimProcess sim("10.9.0.2", folder.path(), {"--name", "Far"});
    auto r = zelto({"discover", "--timeout", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "10.9.0.2\tsim-0001\tZELTO:orvel\tFar\t")) << r.out;
}

TEST_F(ZeltoCli, NoAnswerIsAFailureWithAHint) {
    auto r = zelto({"discover", "--no-broadcast", "--host", "127.0.0.9", "--timeout", "0.5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "--host")) << r.err;
    auto unknown = zelto({"info", "Nobody", "--no-broadcast", "--host", "127.0.0.9", "--timeout", "0.5"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(contains(unknown.err, "zelto discover")) << unknown.err;
}

TEST_F(ZeltoCli, SyncFillsTheFolderAndEveryMixerThenHasNothingLeftToDo) {
    auto& a = rig.add({{"FromA", presetBytes("FromA", 5000)}});
    auto& b = rig.add({{"FromB", presetBytes("FromB")}});
    writeLocal("Mine", presetBytes("Mine"));

    auto dry = runIn({"sync", "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_TRUE(contains(dry.out, "would fetch FromA from Sim1 - SN1 @ 127.0.0.2")) << dry.out;
    EXPECT_TRUE(contains(dry.out, "would send Mine to Sim2 - SN2 @ 127.0.0.3")) << dry.out;
    EXPECT_EQ(local.entries(), std::vector<std::string>{"Mine.ZELTOshow"}) << "a dry run changes nothing";

    auto r = runIn({"sync"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* line :
         {"starting sync", "requesting local preset list",
          "required remote presets: ", "requested preset FromA from Sim1 - SN1 @ 127.0.0.2",
          "to Sim2 - SN2 @ 127.0.0.3 overwriting no", "preset manager sync finish", "sync finished"}) {
        EXPECT_TRUE(contains(r.out, line)) << line << "\n" << r.out;
    }
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(local.entries(),
              (std::vector<std::string>{"FromA.ZELTOshow", "FromB.ZELTOshow", "Mine.ZELTOshow"}));
    EXPECT_EQ(fileBytes(local.path() + "FromA.ZELTOshow"), fileBytes(a.folder->path() + "FromA.ZELTOshow"));
    ASSERT_TRUE(b.sim->waitForLine("stored preset FromA"));
    ASSERT_TRUE(a.sim->waitForLine("stored preset Mine"));
    ASSERT_TRUE(b.sim->waitForLine("stored preset Mine"));

    auto again = runIn({"sync", "--dry-run"});
    EXPECT_TRUE(contains(again.out, "nothing to do")) << again.out;
}

TEST_F(ZeltoCli, ListShowsEverySourceAsJson) {
    rig.add({{"OnMixer", presetBytes("OnMixer")}});
    writeLocal("OnDisk", presetBytes("OnDisk"));
    auto r = runIn({"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto doc = json::parse(r.out);
    ASSERT_EQ(doc["sources"].size(), 2u);
    EXPECT_EQ(doc["sources"][0]["source"], "local");
    EXPECT_EQ(doc["sources"][0]["presets"][0]["name"], "OnDisk");
    std::vector<std::string> names;
    for (auto& p : doc["sources"][1]["presets"]) names.push_back(p["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"OnMixer", "default (PRESET)", "defaultOFF (PRESET)"}));
}

TEST_F(ZeltoCli, CopiesGoEveryWayAndReplaceAnExistingName) {
    auto& a = rig.add({{"Show", presetBytes("Show on A", 1500)}});
    auto& b = rig.add({{"Show", presetBytes("Show on B")}});
    writeLocal("Show", presetBytes("Show local"));
    writeLocal("Solo", presetBytes("Solo"));

    auto toLocal = runIn({"copy", "Show", "--from", "127.0.0.2", "--to", "local"});
    ASSERT_EQ(toLocal.exitCode, 0) << toLocal.err;
    EXPECT_TRUE(contains(toLocal.out, "overwriting preset on disk Show")) << toLocal.out;
    EXPECT_EQ(fileBytes(local.path() + "Show.ZELTOshow"), fileBytes(a.folder->path() + "Show.ZELTOshow"));

    auto toMixer = runIn({"copy", "Solo", "--from", "local", "--to", "uid-2"});
    ASSERT_EQ(toMixer.exitCode, 0) << toMixer.err;
    ASSERT_TRUE(b.sim->waitForLine("stored preset Solo"));
    EXPECT_EQ(fileBytes(b.folder->path() + "Solo.ZELTOshow"), presetBytes("Solo"));

    auto across = runIn({"copy", "Show", "--from", "Sim2", "--to", "Sim1"});
    ASSERT_EQ(across.exitCode, 0) << across.err;
    ASSERT_TRUE(a.sim->waitForLine("stored preset Show"));
    EXPECT_EQ(fileBytes(a.folder->path() + "Show.ZELTOshow"), presetBytes("Show on B"));

    auto missing = runIn({"copy", "Nope", "--from", "Sim1", "--to", "local"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.err, "zelto list Sim1")) << missing.err;
}

TEST_F(ZeltoCli, LoadDeleteIdentifyAndInfoReachTheMixer) {
    auto& a = rig.add({{"Gig", presetBytes("Gig")}, {"Old", presetBytes("Old")}});
    auto refused = run({"load", "Gig", "--on", "Sim1"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(contains(refused.err, "--yes")) << refused.err;

    EXPECT_EQ(run({"load", "Gig", "--on", "Sim1", "--yes"}).exitCode, 0);
    EXPECT_TRUE(a.sim->waitForLine("current preset Gig"));

    auto del = runIn({"delete", "Old", "--from", "127.0.0.2"});
    EXPECT_EQ(del.exitCode, 0) << del.err;
    EXPECT_FALSE(std::filesystem::exists(a.folder->path() + "Old.ZELTOshow"));

    EXPECT_EQ(run({"identify", "uid-1"}).exitCode, 0);
    EXPECT_TRUE(a.sim->waitForLine("display blinks"));

    auto info = run({"info", "Sim1", "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    auto doc = json::parse(info.out);
    EXPECT_EQ(doc["inputs"], 32);
    EXPECT_EQ(doc["users"].size(), 2u);
}

TEST_F(ZeltoCli, LocalDeleteStaysInsideTheFolder) {
    test::TempFolder outside;
    outside.write("x.ZELTOshow", "keep");
    writeLocal("Gone", presetBytes("Gone"));
    auto escape = zelto(
        {"delete", "../" + std::filesystem::path(outside.path()).parent_path().filename().string() + "/x",
         "--from", "local", "--dir", local.path()});
    EXPECT_EQ(escape.exitCode, 1);
    EXPECT_EQ(outside.read("x.ZELTOshow"), "keep");
    auto ok = zelto({"delete", "Gone", "--from", "local", "--dir", local.path()});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_TRUE(local.entries().empty());
}

TEST_F(ZeltoCli, LossyMixerNeverLeavesAPartialPreset) {
    auto& lossy = rig.add({{"Big", presetBytes("Big", 30000)}}, {"--loss", "15", "--seed", "7"});
    auto& clean = rig.add({{"Small", presetBytes("Small")}});
    auto r = runIn({"sync", "--timeout", "5"});
    // Whatever the loss cost, the run says so, and nothing half-received is written.
    EXPECT_EQ(r.exitCode == 0, r.err.empty()) << r.out << r.err;
    if (std::filesystem::exists(local.path() + "Big.ZELTOshow")) {
        EXPECT_EQ(fileBytes(local.path() + "Big.ZELTOshow"),
                  fileBytes(lossy.folder->path() + "Big.ZELTOshow"));
    } else if (contains(r.out, "requested preset Big")) {
        EXPECT_TRUE(contains(r.err, "failed receiving preset Big from")) << r.err;
    }
    if (contains(r.out, "sync finished")) {
        EXPECT_EQ(fileBytes(local.path() + "Small.ZELTOshow"),
                  fileBytes(clean.folder->path() + "Small.ZELTOshow"));
    }
}

// A mixer that drops a preset says nothing; the run reads its list again and
// fails with status 1 when what it sent is not there.
TEST_F(ZeltoCli, APresetThatNeverArrivesFailsTheSyncAndTheCopyWithStatusOne) {
    const std::vector<std::string> dropsSixSends = test::SimFaults{.dropPresets = 6}.arguments();
    rig.add({{"Show", presetBytes("Show on A", 1500)}});
    auto& b = rig.add({{"Show", presetBytes("Show on B")}}, dropsSixSends);
    writeLocal("Lost", presetBytes("Lost"));

    // Both mixers named, with time to spare on a loaded machine: the test is
    // about the drops, not about a mixer left out.
    const std::vector<std::string> both = {"--no-broadcast", "--host", "127.0.0.2", "--host", "127.0.0.3",
                                           "--timeout", "10"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), both.begin(), both.end());
        return args;
    };

    // Sent, then twice again, and dropped each time.
    auto sync = runIn(with({"sync"}));
    EXPECT_EQ(sync.exitCode, 1) << sync.out << sync.err;
    EXPECT_TRUE(contains(sync.err, "preset Lost did not arrive on Sim2 - SN2 @ 127.0.0.3")) << sync.err;
    EXPECT_TRUE(contains(sync.out, "sending preset Lost to Sim2 - SN2 @ 127.0.0.3 again")) << sync.out;
    EXPECT_TRUE(contains(sync.err, "1 step(s) failed")) << sync.err;
    EXPECT_FALSE(std::filesystem::exists(b.folder->path() + "Lost.ZELTOshow"));

    // The copy deletes Show on Sim2, loses its three sends, then puts the old Show back.
    auto copy = runIn(with({"copy", "Show", "--from", "Sim1", "--to", "Sim2"}));
    EXPECT_EQ(copy.exitCode, 1) << copy.out << copy.err;
    EXPECT_TRUE(contains(copy.err, "restored the previous Show on Sim2 - SN2 @ 127.0.0.3")) << copy.err;
    EXPECT_TRUE(contains(copy.err, "failed! presetNotStored")) << copy.err;
    EXPECT_FALSE(contains(copy.out, "copy finished")) << copy.out;
    EXPECT_EQ(fileBytes(b.folder->path() + "Show.ZELTOshow"), presetBytes("Show on B"));
}

TEST_F(ZeltoCli, VerifyFailsWhenAMixerStoresOtherBytes) {
    // Changes the plain sync's send, then the verified sync's send and both its resends.
    auto& a = rig.add({}, test::SimFaults{.corruptPresets = 4}.arguments());
    writeLocal("Show", presetBytes("Show", 1500));
    auto plain = runIn({"sync"});
    EXPECT_EQ(plain.exitCode, 0) << "listed is all a sync checks without --verify\n" << plain.err;

    std::filesystem::remove(a.folder->path() + "Show.ZELTOshow");
    auto checked = runIn({"sync", "--verify"});
    EXPECT_EQ(checked.exitCode, 1) << checked.out << checked.err;
    EXPECT_TRUE(contains(checked.err, "preset Show arrived changed on Sim1 - SN1 @ 127.0.0.2"))
        << checked.err;

    // The fifth store is faithful.
    auto copy = runIn({"copy", "Show", "--from", "local", "--to", "Sim1", "--verify"});
    EXPECT_EQ(copy.exitCode, 0) << copy.out << copy.err;
    EXPECT_EQ(fileBytes(a.folder->path() + "Show.ZELTOshow"), presetBytes("Show", 1500));
}

// The run that reported 60 sends and exit 0 while mixers had stored fewer.
TEST_F(ZeltoCli, SyncUnderLossStoresEverythingOrExitsWithOne) {
    auto& lossy = rig.add({}, {"--loss", "3", "--seed", "11"});
    for (int i = 0; i < 30; ++i) {
        auto name = "Song " + std::to_string(i);
        writeLocal(name, presetBytes(name, 2200, static_cast<unsigned>(i)));
    }
    auto started = std::chrono::steady_clock::now();
    auto r = runIn({"sync", "--timeout", "5"});
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_NE(r.exitCode, -1) << "killed after its time limit";
    EXPECT_LT(took, std::chrono::seconds(90));
    int missing = 0;
    for (int i = 0; i < 30; ++i) {
        auto name = "Song " + std::to_string(i);
        auto path = lossy.folder->path() + name + ".ZELTOshow";
        if (std::filesystem::exists(path) &&
            fileBytes(path) == presetBytes(name, 2200, static_cast<unsigned>(i)))
            continue;
        ++missing;
        EXPECT_EQ(r.exitCode, 1) << name << " is missing\n" << r.out << r.err;
        EXPECT_TRUE(contains(r.err, "preset " + name + " ")) << name << " is not named\n" << r.err;
    }
    if (r.exitCode != 0) {
        EXPECT_FALSE(r.err.empty());
    }
    RecordProperty("exit", r.exitCode);
    RecordProperty("missing", missing);
    std::size_t resends = 0;
    for (auto at = r.out.find(" again: "); at != std::string::npos; at = r.out.find(" again: ", at + 1))
        ++resends;
    RecordProperty("resends", static_cast<int>(resends));
    RecordProperty("ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(ZeltoCli, ReadOnlyFolderLosesNothing) {
    if (auto why = test::ScratchMount::isolate(); !why.empty()) GTEST_SKIP() << why;
    rig.add({{"New", presetBytes("New")}});
    test::ScratchMount mount(local.path(), 1 << 20);
    ASSERT_TRUE(mount.ok());
    writeLocal("Kept", presetBytes("Kept"));
    ASSERT_TRUE(mount.makeReadOnly());
    auto r = runIn({"sync"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "failed writing preset New")) << r.err;
    EXPECT_EQ(local.entries(), std::vector<std::string>{"Kept.ZELTOshow"});
    EXPECT_EQ(fileBytes(local.path() + "Kept.ZELTOshow"), presetBytes("Kept"));
}

TEST_F(ZeltoCli, WhatACopyReplacesIsListedRestorableThroughTheLibraryAndUndone) {
    auto onMixer = presetBytes("Gig on mixer");
    auto& a = rig.add({{"Gig", onMixer}});
    auto localGig = presetBytes("Gig local");
    writeLocal("Gig", localGig);

    auto copied = runIn({"copy", "Gig", "--from", "Sim1", "--to", "local"});
    ASSERT_EQ(copied.exitCode, 0) << copied.err;
    EXPECT_EQ(fileBytes(local.path() + "Gig.ZELTOshow"), onMixer);

    auto listed = zelto({"history", "Gig", "--json", "--dir", local.path()});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    auto versions = json::parse(listed.out)["versions"];
    ASSERT_EQ(versions.size(), 1u) << listed.out;
    EXPECT_EQ(versions[0]["where"], "local");
    EXPECT_TRUE(contains(versions[0]["reason"].get<std::string>(), "Sim1")) << listed.out;

    // The desktop application reads the same entry through the library.
    History history(local.path());
    auto entries = history.entries("Gig");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, versions[0]["id"].get<std::uint64_t>());
    EXPECT_EQ(history.bytesOf(entries[0]), localGig);

    // Restored onto the mixer, which keeps the mixer's own version first.
    auto restored = run({"restore", "Gig", "--version", std::to_string(entries[0].id), "--to", "Sim1", "--dir",
                         local.path()});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_TRUE(a.sim->waitForCount("stored preset Gig", 1));
    EXPECT_EQ(fileBytes(a.folder->path() + "Gig.ZELTOshow"), localGig);
    EXPECT_EQ(History(local.path()).entries("Gig").back().location.uid, "uid-1");

    // Undo takes back the restore, then the copy.
    ASSERT_EQ(runIn({"undo"}).exitCode, 0);
    EXPECT_TRUE(a.sim->waitForCount("stored preset Gig", 2));
    EXPECT_EQ(fileBytes(a.folder->path() + "Gig.ZELTOshow"), onMixer);
    auto undone = runIn({"undo"});
    ASSERT_EQ(undone.exitCode, 0) << undone.err;
    EXPECT_TRUE(contains(undone.out, "undid copy")) << undone.out;
    EXPECT_EQ(fileBytes(local.path() + "Gig.ZELTOshow"), localGig);
}

class ZeltoCompareCli : public ZeltoCli {
  protected:
    static std::map<std::string, std::vector<std::string>> statesByName(const json& doc) {
        std::map<std::string, std::vector<std::string>> states;
        for (auto& row : doc["rows"])
            for (auto& cell : row["cells"]) states[row["name"]].push_back(cell["state"]);
        return states;
    }
};

TEST_F(ZeltoCompareCli, StatusComparesContentsWhateverTheirCompressionAndFetchesOnlyWhatChanged) {
    auto show = presetBytes("Show");
    auto plainShow = gzip::decompress(show);
    writeLocal("Show", show);
    writeLocal("Same", gzip::decompress(presetBytes("Same")));
    writeLocal("Local only", presetBytes("Local only"));
    auto& a = rig.add({{"Show", presetBytes("Show on A")}, {"Same", presetBytes("Same")}});
    // The second mixer keeps Show plain and sends it compressed at level 1.
    auto& b = rig.add({{"Show", plainShow}, {"Extra", presetBytes("Extra")}}, {"--preset-level", "1"});

    auto first = runIn({"status", "--json"});
    ASSERT_EQ(first.exitCode, 1) << first.out << first.err;
    auto doc = json::parse(first.out);
    using States = std::vector<std::string>;
    auto states = statesByName(doc);
    EXPECT_EQ(states["Show"], (States{"same", "differs", "same"})) << first.out;
    EXPECT_EQ(states["Same"], (States{"same", "same", "missing"}));
    EXPECT_EQ(states["Local only"], (States{"only here", "missing", "missing"}));
    EXPECT_EQ(states["Extra"], (States{"missing", "missing", "only here"}));
    EXPECT_EQ(doc["fetched"], 3) << "Show on both mixers and Same on the first";
    // The sync preview: what the sync would fetch and send, by mixer (names, not contents).
    auto sorted = [](const json& names) {
        auto list = names.get<std::vector<std::string>>();
        std::sort(list.begin(), list.end());
        return list;
    };
    EXPECT_EQ(sorted(doc["sync"][0]["send"]), (States{"Extra", "Local only"}));
    EXPECT_EQ(sorted(doc["sync"][1]["send"]), (States{"Local only", "Same"}));
    EXPECT_EQ(sorted(doc["sync"][1]["fetch"]), (States{"Extra"}));

    auto second = runIn({"status"});
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_TRUE(contains(second.err, "fetched 0 preset(s)")) << second.err;
    EXPECT_TRUE(contains(second.out, "Show\tsame\tdiffers\tsame\n")) << second.out;
    EXPECT_TRUE(contains(second.out, "4 preset(s): 0 the same everywhere, 4 differ or are missing somewhere"))
        << second.out;

    // Made the same everywhere: only the presets stored anew are fetched.
    a.sim->writePreset("Show", show);
    b.sim->writePreset("Same", presetBytes("Same"));
    b.sim->writePreset("Local only", presetBytes("Local only"));
    a.sim->writePreset("Local only", presetBytes("Local only"));
    a.sim->writePreset("Extra", presetBytes("Extra"));
    writeLocal("Extra", presetBytes("Extra"));
    auto third = runIn({"status", "--json"});
    EXPECT_EQ(third.exitCode, 0) << third.out << third.err;
    EXPECT_EQ(json::parse(third.out)["fetched"], 6) << third.out;
}

TEST_F(ZeltoCompareCli, DiffNamesTheDifferingValuesOfPresetsOnMixersFoldersAndFiles) {
    auto show = presetBytes("Show");
    writeLocal("Show", show);
    ZeltoPreset changed = ZeltoPreset::fromCompressedData(show);
    changed.name = "Show on A";
    ASSERT_FALSE(changed.userList.users.empty());
    changed.userList.users[0].icon = "guitar";
    rig.add({{"Show", changed.toCompressedData()}});
    rig.add({{"Show", gzip::decompress(show)}}, {"--preset-level", "9"});

    auto differs = runIn({"diff", "local:Show", "Sim1:Show", "--json"});
    ASSERT_EQ(differs.exitCode, 1) << differs.err;
    auto doc = json::parse(differs.out);
    std::map<std::string, std::pair<json, json>> rows;
    for (auto& r : doc["rows"]) rows[r["path"]] = {r["left"], r["right"]};
    EXPECT_EQ(rows.size(), 2u) << differs.out;
    EXPECT_EQ(rows["Name"], std::make_pair(json("Show"), json("Show on A")));
    auto mix = "Mix \"" + changed.userList.users[0].name + "\" / Icon";
    ASSERT_TRUE(rows.contains(mix)) << differs.out;
    EXPECT_EQ(rows[mix].second, "guitar");

    auto same = runIn({"diff", "local:Show", "127.0.0.3:Show"});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    EXPECT_TRUE(contains(same.out, "the presets are the same")) << same.out;

    auto text = runIn({"diff", local.path() + "Show.ZELTOshow", "uid-1:Show", "--all"});
    EXPECT_EQ(text.exitCode, 1) << text.err;
    EXPECT_TRUE(contains(text.out, "! Name\tShow\tShow on A\n")) << text.out;
    EXPECT_TRUE(contains(text.out, "  Version\t")) << "--all lists the values that are the same too\n" << text.out;

    auto missing = runIn({"diff", "local:Show", "Sim1:Nope"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(contains(missing.err, "zelto list Sim1")) << missing.err;
}

TEST_F(ZeltoCompareCli, WhatASyncFetchedIsNotFetchedAgainByStatus) {
    rig.add({{"FromA", presetBytes("FromA", 2000)}, {"Other", presetBytes("Other")}});
    writeLocal("Other", presetBytes("Other"));
    ASSERT_EQ(runIn({"sync"}).exitCode, 0);
    auto r = runIn({"status", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(json::parse(r.out)["fetched"], 1) << "only Other, which the sync had no reason to fetch\n" << r.out;
}

TEST_F(ZeltoCompareCli, StatusIsTroubleWhenAMixerDoesNotAnswer) {
    auto& a = rig.add({{"Show", presetBytes("Show")}});
    writeLocal("Show", presetBytes("Show"));
    auto r = zelto({"status", "--dir", local.path(), "--no-broadcast", "--host", a.address, "--host", "127.0.0.9",
                    "--timeout", "1"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Show\tsame\tsame\n")) << "what could be compared is shown\n" << r.out;
}

}  // namespace
}  // namespace zelto
