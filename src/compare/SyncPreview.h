#pragma once

// What a sync will do, in the comparison grid's terms: the sync's own plan
// (planSync, the one syncDevices carries out) laid over the grid's rows and
// columns. The sync matches by name only, so a `differs` cell stays as it is
// after the sync; the preview says so by leaving its move `none`.
//
// Threads: plain values and a pure function.
#include <cstddef>
#include <string>
#include <vector>

#include "compare/CompareGrid.h"
#include "sync/SyncPlan.h"

namespace zelto {

enum class PlannedMove {
    none,
    // Folder column: the preset will be fetched into the folder.
    fetchedIntoFolder,
    // Mixer column: the folder's copy will be fetched from this mixer.
    fetchedFromHere,
    // Mixer column: the preset will be sent to this mixer.
    sentHere,
};
const char* plannedMoveName(PlannedMove move) noexcept;

struct SyncPreview {
    // moves[row][column], aligned with the grid's rows and columns. A row the
    // grid lacks cannot be moved: the plan is made from the same lists.
    std::vector<std::vector<PlannedMove>> moves;
    struct MixerSummary {
        DevicePtr device;
        std::vector<std::string> fetched;  // names fetched from it into the folder
        std::vector<std::string> sent;     // names sent to it
    };
    std::vector<MixerSummary> mixers;  // one per mixer column, in column order

    bool nothingToDo() const;
};

SyncPreview previewSync(const CompareGrid& grid, const SyncPlan& plan);

}  // namespace zelto
