#include "compare/CompareGrid.h"

#include <algorithm>
#include <unordered_map>

namespace zelto {

const char* cellStateName(CellState state) noexcept {
    switch (state) {
        case CellState::missing:
            return "missing";
        case CellState::unknown:
            return "unknown";
        case CellState::same:
            return "same";
        case CellState::differs:
            return "differs";
        case CellState::onlyHere:
            return "only here";
    }
    return "missing";
}

bool GridRow::inOrder() const {
    return std::all_of(cells.begin(), cells.end(),
                       [](const GridCell& c) { return c.state == CellState::same; });
}

bool CompareGrid::inOrder() const {
    return std::all_of(rows.begin(), rows.end(), [](const GridRow& r) { return r.inOrder(); });
}

std::optional<std::size_t> CompareGrid::rowOf(const std::string& key) const {
    auto it = std::lower_bound(rows.begin(), rows.end(), key,
                               [](const GridRow& row, const std::string& k) { return row.key < k; });
    if (it == rows.end() || it->key != key) return std::nullopt;
    return static_cast<std::size_t>(it - rows.begin());
}

std::optional<std::size_t> CompareGrid::columnOf(const DevicePtr& device) const {
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (columns[c] == device) return c;
    return std::nullopt;
}

std::size_t CompareGrid::unknownCount() const {
    std::size_t count = 0;
    for (const auto& row : rows)
        for (std::size_t c = 1; c < row.cells.size(); ++c)
            count += row.cells[c].state == CellState::unknown && !row.cells[c].listed->fingerprint;
    return count;
}

CompareGrid buildCompareGrid(const std::vector<ListedPreset>& folder,
                             const std::vector<SourceListing>& mixers) {
    CompareGrid grid;
    const std::size_t columns = mixers.size() + 1;
    grid.columns.reserve(columns);
    grid.columns.push_back(nullptr);
    for (const auto& m : mixers) grid.columns.push_back(m.device);

    std::unordered_map<std::string, std::size_t> rowOfKey;
    auto place = [&](const ListedPreset& preset, std::size_t column) {
        auto key = ZeltoPresetManager::matchKey(preset.preset.name);
        if (ZeltoPresetManager::isBuiltInPreset(key)) return;
        auto [it, added] = rowOfKey.try_emplace(key, grid.rows.size());
        if (added) grid.rows.push_back(GridRow{std::move(key), std::vector<GridCell>(columns)});
        GridCell& cell = grid.rows[it->second].cells[column];
        if (!cell.listed) cell.listed = preset;
    };
    for (const auto& preset : folder) place(preset, 0);
    for (std::size_t m = 0; m < mixers.size(); ++m)
        for (const auto& preset : mixers[m].presets) place(preset, m + 1);

    for (auto& row : grid.rows) {
        const auto& reference = row.cells[0].listed;
        bool elsewhere = false;
        for (std::size_t c = 1; c < columns; ++c) {
            GridCell& cell = row.cells[c];
            if (!cell.listed) continue;  // missing
            elsewhere = true;
            if (!reference) {
                cell.state = CellState::onlyHere;
            } else if (!reference->fingerprint || !cell.listed->fingerprint) {
                cell.state = CellState::unknown;
            } else {
                cell.state = *reference->fingerprint == *cell.listed->fingerprint ? CellState::same
                                                                                  : CellState::differs;
            }
        }
        if (reference)
            row.cells[0].state = !elsewhere               ? CellState::onlyHere
                                 : reference->fingerprint ? CellState::same
                                                          : CellState::unknown;
    }
    std::sort(grid.rows.begin(), grid.rows.end(),
              [](const GridRow& a, const GridRow& b) { return a.key < b.key; });
    return grid;
}

}  // namespace zelto
