#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/AppUi.h"
#include "app/DataStore.h"

namespace zelto {

// Rules of the source and preset views that need no widget: drag texts, the
// copy jobs a drop asks for, row texts and context-menu states.

// The drag type of preset and group rows: the application's reverse-DNS identifier.
inline constexpr const char* presetDragType = "org.zelto.presets";

// Two device values are the same source: both the local folder (null), or equal devices.
bool sameDevice(const DevicePtr& a, const DevicePtr& b);

// The device's dotted IPv4 address, or "local" for the local folder.
std::string sourceKey(const DevicePtr& device);
// "/" + source key + "/" + name.
std::string presetDragText(const Preset& preset);
// "/group/" + name.
std::string groupDragText(const std::string& groupName);

// One Preset per preset of each source, sources in the given order.
std::vector<Preset> presetsOfSources(const std::vector<PresetSourcePtr>& sources);
// More than one distinct device value (the local folder counts as one).
bool hasMultipleSources(const std::vector<Preset>& presets);
// The name, followed by " @" and the source's description (or "local") when
// presets of more than one source are shown.
std::string presetRowText(const Preset& preset, bool multipleSources);

// The copy jobs that dropping the dragged `items` (texts of presetDragType)
// onto the source of `target` asks for, in item order. A text is
// "/SOURCEKEY/NAME" (the name is everything after the second "/") or
// "/group/NAME"; a group stands for the presets shown under its heading in
// `groups` (the preset view's groups), each resolved against `sources`.
// What cannot be copied becomes a job with its `problem` set: a mixer no
// longer among the sources, a preset no longer listed, a name holding "/",
// a group not shown, a text of neither form. Copies of a source onto itself
// are left out, and each preset is asked for once, however often it was
// dragged (as itself and as a member of a group).
std::vector<PresetCopyJob> copyJobsForDrop(const std::vector<std::string>& items, const DevicePtr& target,
                                           const std::vector<PresetSourcePtr>& sources,
                                           const std::vector<PresetGroup>& groups);
// The presets of the first group named exactly `name`; empty when there is none.
std::vector<Preset> presetsInGroupNamed(const std::vector<PresetGroup>& groups, const std::string& name);

// The rows a context-menu command acts on: the selected rows and the clicked
// one (negative: none), ascending, each once.
std::vector<int> affectedRows(std::vector<int> selectedRows, int clickedRow);

// A row of the preset view: a group row (no preset) or a preset row.
struct PresetRow {
    std::string groupName;
    std::optional<Preset> preset;
};

// The source menu's commands (info, identify) are enabled when an affected
// source is a mixer.
bool sourceCommandsEnabled(const std::vector<PresetSourcePtr>& affected);
// "load" is enabled for exactly one affected row that is a preset of a mixer.
bool loadCommandEnabled(const std::vector<PresetRow>& affected);
// The copy jobs for the rows of the preset view (Copy Selected To): a preset
// row is itself, a group row the presets of its group in `groups`; resolved
// against `sources` and reported as copyJobsForDrop does.
std::vector<PresetCopyJob> copyJobsForRows(const std::vector<PresetRow>& rows, const DevicePtr& target,
                                           const std::vector<PresetSourcePtr>& sources,
                                           const std::vector<PresetGroup>& groups);

// What Delete removes: the presets among the selected rows, and nothing when
// the focus is not in the preset view (the user is working in another view).
std::vector<Preset> presetsToDelete(const std::vector<PresetRow>& selected, bool presetViewHasFocus);
// The presets among the affected rows (group rows are passed over).
std::vector<Preset> presetsOfRows(const std::vector<PresetRow>& affected);
// The mixers among the affected sources, each once.
std::vector<DevicePtr> devicesOfSources(const std::vector<PresetSourcePtr>& affected);

// A mixer address typed in the settings: a dotted IPv4 unicast address
// (blanks around it ignored), in its canonical form; none for anything else.
std::optional<std::string> mixerAddress(const std::string& text);

// The load confirmation.
// The English source texts; askToLoadPreset shows them translated.
inline constexpr const char* loadConfirmationMessage = QT_TRANSLATE_NOOP("ViewRules", "Warning!");
inline constexpr const char* loadConfirmationButton = QT_TRANSLATE_NOOP("ViewRules", "load");
inline constexpr const char* loadCancelButton = QT_TRANSLATE_NOOP("ViewRules", "cancel");
std::string loadConfirmationText(const Preset& preset);
// The load command: when the first affected row is a preset of a mixer, asks
// with the confirmation (a warning) and runs `load` once "load" was chosen.
void askToLoadPreset(const std::vector<PresetRow>& affected, AppUi& ui,
                     std::function<void(const Preset&)> load);

}  // namespace zelto
