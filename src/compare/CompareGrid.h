#pragma once

// The comparison grid: one row per preset name, one column per source, the
// sync folder first. Names are matched as the sync matches them
// (ZeltoPresetManager::matchKey); the built-in presets are left out, as the
// sync leaves them alone.
//
// Cell states, for the folder column:
//   missing   the folder has no file of that name;
//   onlyHere  the folder holds it and no mixer lists it;
//   unknown   the folder holds it, mixers list it too, and its file could not
//             be read (no fingerprint);
//   same      the folder holds it and some mixer lists it: the folder is the
//             reference every other cell of the row is compared with.
// For a mixer column:
//   missing   the mixer does not list the name;
//   onlyHere  the mixer lists it and the folder does not (whether or not its
//             content is known);
//   unknown   both list it, and the fingerprint of one of them is not known
//             (the mixer's preset was not fetched since it was last stored);
//   same      both list it with the same fingerprint;
//   differs   both list it with different fingerprints.
// A row is in order when every cell is `same` (see Row::inOrder); the grid is
// when every row is. A source whose list did not arrive has no column.
//
// Threads: plain values and a pure function.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "compare/FolderFingerprints.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

enum class CellState { missing, unknown, same, differs, onlyHere };
// "missing", "unknown", "same", "differs", "only here".
const char* cellStateName(CellState state) noexcept;

// One source's list: a null device stands for the sync folder.
struct SourceListing {
    DevicePtr device;
    std::vector<ListedPreset> presets;
};

struct GridCell {
    CellState state = CellState::missing;
    // The entry of the source's list, when it lists the name (without bytes).
    std::optional<ListedPreset> listed;
};

struct GridRow {
    std::string key;              // the match key: the name without date suffixes
    std::vector<GridCell> cells;  // one per column

    // Every cell is `same`.
    bool inOrder() const;
};

struct CompareGrid {
    std::vector<DevicePtr> columns;  // null first: the folder
    std::vector<GridRow> rows;       // sorted by key (bytewise)

    bool inOrder() const;
    // Row index of a match key; none when no source lists it.
    std::optional<std::size_t> rowOf(const std::string& key) const;
    // Column index of a device (null: the folder); none when it has no column.
    std::optional<std::size_t> columnOf(const DevicePtr& device) const;
    // Cells of mixer columns that are listed, compared with a folder file, and
    // whose content is not known: what a compare run fetches.
    std::size_t unknownCount() const;
};

// `folder` is the folder's listing; `mixers` each mixer's, in column order.
// A name listed twice by one source (with and without a date) takes the
// first entry.
CompareGrid buildCompareGrid(const std::vector<ListedPreset>& folder,
                             const std::vector<SourceListing>& mixers);

}  // namespace zelto
