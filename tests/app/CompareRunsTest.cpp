// Compare Contents, Make Like the Folder, the sync preview and the reading of
// presets for a diff, as the desktop application runs them: the controller
// against simulated mixers (one sending its presets compressed) inside the
// test's own network namespace.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/ControllerFixture.h"
#include "compare/PresetDiff.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::kSim1;
using test::kSim2;
using test::presetBytes;
using test::waitUntil;

class CompareRuns : public test::ControllerFixture {
  protected:
    ControllerOptions options() {
        auto o = ControllerFixture::options();
        o.fingerprintCachePath = config.path() + "fingerprints.json";
        return o;
    }
    void writeLocal(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        folder.write(name + ".ZELTOshow", std::string(bytes.begin(), bytes.end()));
    }
    void startWithBothMixers() {
        start(options());
        ASSERT_TRUE(waitUntil([&] { return source(kSim1) && source(kSim2) && !names(kSim2).empty(); }, 10s));
    }
    CompareGrid grid() {
        std::optional<CompareGrid> built;
        controller->buildCompareGrid([&](CompareGrid g) { built = std::move(g); });
        EXPECT_TRUE(waitUntil([&] { return built.has_value(); }));
        return built.value_or(CompareGrid{});
    }
    // The state of a name on a source (null: the folder).
    static std::string state(const CompareGrid& grid, const std::string& key, const DevicePtr& device) {
        auto row = grid.rowOf(key);
        auto column = grid.columnOf(device);
        if (!row || !column) return "absent";
        return cellStateName(grid.rows[*row].cells[*column].state);
    }
    void runSucceeds() {
        ASSERT_TRUE(runEnds());
        ASSERT_EQ(controller->runs().lastOutcome(), RunCoordinator::Outcome::succeeded)
            << testing::PrintToString(errorLines());
    }
    bool logHas(const std::string& line) {
        auto lines = log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    DevicePtr device(const std::string& name) { return source(name)->device(); }
};

TEST_F(CompareRuns, CompareContentsTellsSameFromDifferentOnceAndMakeLikeTheFolderMendsADifferingCell) {
    const auto song = presetBytes("Song"), ballad = presetBytes("Ballad");
    writeLocal("Song", song);
    writeLocal("Ballad", ballad);
    rig.add({{"Song", song}, {"Ballad", presetBytes("Ballad", 200, 7)}});
    rig.add({{"Song", song}, {"Ballad", ballad}}, {"--preset-level", "1"});
    startWithBothMixers();
    const auto sim1 = device(kSim1), sim2 = device(kSim2);

    auto before = grid();
    EXPECT_EQ(state(before, "Song", sim1), "unknown");
    EXPECT_EQ(before.unknownCount(), 4u);

    ASSERT_TRUE(controller->compareContents());
    runSucceeds();
    EXPECT_TRUE(logHas("compare finished: 4 presets fetched")) << testing::PrintToString(log());
    auto after = grid();
    EXPECT_EQ(state(after, "Song", sim1), "same");
    EXPECT_EQ(state(after, "Ballad", sim1), "differs");
    EXPECT_EQ(state(after, "Song", sim2), "same") << "a compressed preset is compared by its content";
    EXPECT_EQ(state(after, "Ballad", sim2), "same");

    // The cache knows every listed preset: nothing is fetched again.
    ASSERT_TRUE(controller->compareContents());
    runSucceeds();
    EXPECT_TRUE(logHas("compare finished: 0 presets fetched")) << testing::PrintToString(log());

    // The diff of the differing pair, read from the folder and fetched from the mixer.
    std::optional<ZeltoPreset> left, right;
    controller->readPreset(nullptr, "Ballad", [&](std::optional<ZeltoPreset> p, std::string) { left = std::move(p); });
    controller->readPreset(sim1, "Ballad", [&](std::optional<ZeltoPreset> p, std::string) { right = std::move(p); });
    ASSERT_TRUE(waitUntil([&] { return left && right; }));
    const auto rows = diffPresets(*left, *right);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].section, DiffSection::residual);

    // Make like the folder: the normal copy; the next compare fetches that one preset.
    ASSERT_TRUE(controller->copyPresets({{nullptr, sim1, "Ballad"}}));
    runSucceeds();
    ASSERT_TRUE(controller->compareContents());
    runSucceeds();
    EXPECT_TRUE(logHas("compare finished: 1 presets fetched")) << testing::PrintToString(log());
    EXPECT_EQ(state(grid(), "Ballad", sim1), "same");
    EXPECT_TRUE(grid().inOrder());
}

TEST_F(CompareRuns, TheSyncPreviewListsWhatTheSyncThenFetchesAndSends) {
    writeLocal("OnlyLocal", presetBytes("OnlyLocal"));
    writeLocal("Shared", presetBytes("Shared"));
    rig.add({{"Shared", presetBytes("Shared", 100, 3)}, {"FromSim1", presetBytes("FromSim1")}});
    rig.add({{"FromSim2", presetBytes("FromSim2")}}, {"--preset-level", "1"});
    startWithBothMixers();
    const auto sim1 = device(kSim1), sim2 = device(kSim2);

    std::optional<SyncPreview> preview;
    std::optional<CompareGrid> previewGrid;
    controller->previewSync([&](CompareGrid g, SyncPreview p) {
        previewGrid = std::move(g);
        preview = std::move(p);
    });
    ASSERT_TRUE(waitUntil([&] { return preview.has_value(); }));
    ASSERT_EQ(preview->mixers.size(), 2u);
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto column1 = *previewGrid->columnOf(sim1) - 1, column2 = *previewGrid->columnOf(sim2) - 1;
    EXPECT_EQ(sorted(preview->mixers[column1].fetched), (std::vector<std::string>{"FromSim1"}));
    EXPECT_EQ(sorted(preview->mixers[column2].fetched), (std::vector<std::string>{"FromSim2"}));
    const auto sentTo1 = sorted(preview->mixers[column1].sent), sentTo2 = sorted(preview->mixers[column2].sent);
    EXPECT_EQ(sentTo1, (std::vector<std::string>{"FromSim2", "OnlyLocal"}));
    EXPECT_EQ(sentTo2, (std::vector<std::string>{"FromSim1", "OnlyLocal", "Shared"}));

    const auto folderBefore = names(MainController::localSourceName);
    const auto sim1Before = names(kSim1), sim2Before = names(kSim2);
    ASSERT_TRUE(controller->syncAll());
    runSucceeds();
    auto added = [](const std::vector<std::string>& before, const std::vector<std::string>& after) {
        std::vector<std::string> result;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(result));
        return result;
    };
    EXPECT_EQ(added(folderBefore, names(MainController::localSourceName)),
              (std::vector<std::string>{"FromSim1", "FromSim2"}));
    EXPECT_EQ(added(sim1Before, names(kSim1)), sentTo1);
    EXPECT_EQ(added(sim2Before, names(kSim2)), sentTo2);
}

}  // namespace
}  // namespace zelto
