#include "compare/SyncPreview.h"

namespace zelto {

const char* plannedMoveName(PlannedMove move) noexcept {
    switch (move) {
        case PlannedMove::none:
            return "none";
        case PlannedMove::fetchedIntoFolder:
            return "fetched into the folder";
        case PlannedMove::fetchedFromHere:
            return "fetched from here";
        case PlannedMove::sentHere:
            return "sent here";
    }
    return "none";
}

bool SyncPreview::nothingToDo() const {
    for (const auto& m : mixers)
        if (!m.fetched.empty() || !m.sent.empty()) return false;
    return true;
}

SyncPreview previewSync(const CompareGrid& grid, const SyncPlan& plan) {
    SyncPreview preview;
    preview.moves.assign(grid.rows.size(), std::vector<PlannedMove>(grid.columns.size(), PlannedMove::none));
    for (std::size_t c = 1; c < grid.columns.size(); ++c) preview.mixers.push_back({grid.columns[c], {}, {}});
    auto mark = [&](const std::string& name, const DevicePtr& device, PlannedMove move) {
        auto row = grid.rowOf(ZeltoPresetManager::matchKey(name));
        auto column = grid.columnOf(device);
        if (!row || !column || *column == 0) return false;
        preview.moves[*row][*column] = move;
        if (move == PlannedMove::fetchedFromHere) {
            preview.moves[*row][0] = PlannedMove::fetchedIntoFolder;
            preview.mixers[*column - 1].fetched.push_back(grid.rows[*row].key);
        } else {
            preview.mixers[*column - 1].sent.push_back(grid.rows[*row].key);
        }
        return true;
    };
    for (const auto& fetch : plan.fetches) mark(fetch.preset.name, fetch.from, PlannedMove::fetchedFromHere);
    for (const auto& send : plan.sends) mark(send.name, send.to, PlannedMove::sentHere);
    return preview;
}

}  // namespace zelto
