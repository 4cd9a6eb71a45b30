// The comparison grid's cell states and the sync preview laid over it.
#include <gtest/gtest.h>

#include "compare/CompareGrid.h"
#include "compare/SyncPreview.h"
#include "device/ZeltoDevice.h"

namespace zelto {
namespace {

Fingerprint fp(std::uint64_t n) {
    return {n, n};
}

ListedPreset known(const std::string& name, std::uint64_t content) {
    return {RemoteZeltoPreset(name), fp(content)};
}

ListedPreset unknown(const std::string& name) {
    return {RemoteZeltoPreset(name), std::nullopt};
}

struct Grid : ::testing::Test {
    asio::io_context io;
    DevicePtr a = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.1"), 9112, "a");
    DevicePtr b = std::make_shared<ZeltoDevice>(io, asio::ip::make_address_v4("10.0.0.2"), 9113, "b");

    static std::vector<std::string> states(const CompareGrid& grid, const std::string& key) {
        std::vector<std::string> out;
        auto row = grid.rowOf(key);
        if (!row) return out;
        for (auto& cell : grid.rows[*row].cells) out.push_back(cellStateName(cell.state));
        return out;
    }
};

using States = std::vector<std::string>;

TEST_F(Grid, EachCellSaysWhetherItsPresetIsMissingUnknownTheSameDifferentOrOnlyThere) {
    const auto grid = buildCompareGrid(
        {known("Same", 1), known("Differs", 2), known("Unknown on a", 3), known("Folder only", 4),
         unknown("Unreadable"), known("Dated *[2024-01-01T00:00:00.000Z]", 5)},
        {{a,
          {known("Same", 1), known("Differs", 9), unknown("Unknown on a"), known("Unreadable", 6),
           unknown("Mixers only"), known("Dated *[2024-05-05T00:00:00.000Z]", 5),
           known("defaultOFF (PRESET) *[2024-01-01T00:00:00.000Z]", 7)}},
         {b, {known("Same", 1), known("Differs", 2), known("Mixers only", 8), unknown("Dated")}}});

    EXPECT_EQ(grid.columns, (std::vector<DevicePtr>{nullptr, a, b}));
    EXPECT_EQ(states(grid, "Same"), (States{"same", "same", "same"}));
    EXPECT_EQ(states(grid, "Differs"), (States{"same", "differs", "same"}));
    EXPECT_EQ(states(grid, "Unknown on a"), (States{"same", "unknown", "missing"}));
    EXPECT_EQ(states(grid, "Folder only"), (States{"only here", "missing", "missing"}));
    EXPECT_EQ(states(grid, "Unreadable"), (States{"unknown", "unknown", "missing"}));
    EXPECT_EQ(states(grid, "Mixers only"), (States{"missing", "only here", "only here"}));
    // Dates are not part of the name: matched as the sync matches.
    EXPECT_EQ(states(grid, "Dated"), (States{"same", "same", "unknown"}));
    EXPECT_FALSE(grid.rowOf("defaultOFF (PRESET)")) << "built-in presets never move and are not compared";

    std::vector<std::string> keys;
    for (auto& row : grid.rows) keys.push_back(row.key);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_TRUE(grid.rows[*grid.rowOf("Same")].inOrder());
    EXPECT_FALSE(grid.inOrder());
    EXPECT_EQ(grid.unknownCount(), 2u)
        << "Unknown on a, and Dated on b; Mixers only is compared with nothing";

    EXPECT_TRUE(buildCompareGrid({known("X", 1)}, {{a, {known("X", 1)}}, {b, {known("X", 1)}}}).inOrder());
}

TEST_F(Grid, SyncPreviewShowsTheSyncsOwnPlanInTheGridsCells) {
    std::vector<ListedPreset> folder = {known("Local", 1), known("Both", 2)};
    std::vector<SourceListing> mixers = {{a, {known("Both", 3), known("On a", 4)}},
                                         {b, {known("On a", 5), known("On b", 6)}}};
    const auto grid = buildCompareGrid(folder, mixers);
    auto names = [](const std::vector<ListedPreset>& list) {
        std::vector<RemoteZeltoPreset> out;
        for (auto& l : list) out.push_back(l.preset);
        return out;
    };
    const auto plan = planSync(names(folder), {{a, names(mixers[0].presets)}, {b, names(mixers[1].presets)}});
    const auto preview = previewSync(grid, plan);

    auto moves = [&](const std::string& key) {
        std::vector<std::string> out;
        for (auto move : preview.moves[*grid.rowOf(key)]) out.push_back(plannedMoveName(move));
        return out;
    };
    EXPECT_EQ(moves("Local"), (States{"none", "sent here", "sent here"}));
    EXPECT_EQ(moves("Both"), (States{"none", "none", "sent here"})) << "a differing preset is not synced";
    EXPECT_EQ(moves("On a"), (States{"fetched into the folder", "fetched from here", "none"}));
    EXPECT_EQ(moves("On b"), (States{"fetched into the folder", "sent here", "fetched from here"}));
    ASSERT_EQ(preview.mixers.size(), 2u);
    EXPECT_EQ(preview.mixers[0].fetched, (States{"On a"}));
    EXPECT_EQ(preview.mixers[1].fetched, (States{"On b"}));
    EXPECT_FALSE(preview.nothingToDo());
}

}  // namespace
}  // namespace zelto
