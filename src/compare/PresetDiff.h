#pragma once

// How two preset documents differ, in the preset model's own terms:
//   - the preset's name and version;
//   - mixes (users) matched by name (two mixes of one name are paired in
//     order), each with its icon, hide flag and phase inversion;
//   - each mix's channels matched by input channel, with every setting
//     (name, icon, colour, visibility, stereo link, distance, elevation, pan,
//     width, mode, gain, solo, mute, group, position);
//   - each mix's groups matched by id (name, icon, colour);
//   - the routing maps of the remote settings, entry by local channel;
//   - residual content: whatever the model does not read (extra attributes,
//     text and child elements), compared as written.
// A mix, channel, group or routing entry held by one side only is one row
// whose other side is empty.
//
// Threads: pure functions.
// Errors: none; the presets are already read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "preset/ZeltoPreset.h"

namespace zelto {

enum class DiffSection { preset, mix, channel, group, routing, residual };
// "preset", "mix", "channel", "group", "routing", "residual".
const char* diffSectionName(DiffSection section) noexcept;

struct DiffRow {
    DiffSection section = DiffSection::preset;
    // Readable and unique within one diff, segments joined by " / ", e.g.
    // `Mix "Band" / Input 3 / Gain (dB)`.
    std::string path;
    // The value on each side as text; none where that side lacks the item.
    std::optional<std::string> left, right;

    bool differs() const { return left != right; }
};

enum class DiffRows {
    differing,  // only rows whose sides differ
    all,        // every compared value, the same or not ("show all")
};

std::vector<DiffRow> diffPresets(const ZeltoPreset& left, const ZeltoPreset& right,
                                 DiffRows which = DiffRows::differing);

}  // namespace zelto
