#include "app/ViewRules.h"

#include <algorithm>
#include <asio/ip/address_v4.hpp>

#include "device/ZeltoDevice.h"

namespace zelto {

namespace {

std::vector<std::string> splitAtSlash(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find('/', start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::optional<Preset> findPreset(const std::vector<PresetSourcePtr>& sources, const std::string& address,
                                 const std::string& name) {
    for (const auto& source : sources) {
        if (!source->device() || source->device()->ip().to_string() != address) continue;
        for (auto& preset : source->presets())
            if (preset.name == name) return Preset{source->device(), std::move(preset)};
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

bool sameDevice(const DevicePtr& a, const DevicePtr& b) {
    if (!a || !b) return !a && !b;
    return a == b || *a == *b;
}

std::string sourceKey(const DevicePtr& device) {
    return device ? device->ip().to_string() : "local";
}

std::string presetDragText(const Preset& preset) {
    return "/" + sourceKey(preset.device) + "/" + preset.preset.name;
}

std::string groupDragText(const std::string& groupName) {
    return "/group/" + groupName;
}

std::vector<Preset> presetsOfSources(const std::vector<PresetSourcePtr>& sources) {
    std::vector<Preset> presets;
    for (const auto& source : sources)
        for (auto& preset : source->presets()) presets.push_back(Preset{source->device(), std::move(preset)});
    return presets;
}

bool hasMultipleSources(const std::vector<Preset>& presets) {
    if (presets.empty()) return false;
    const DevicePtr& first = presets.front().device;
    return std::any_of(presets.begin(), presets.end(),
                       [&](const Preset& p) { return !sameDevice(p.device, first); });
}

std::string presetRowText(const Preset& preset, bool multipleSources) {
    if (!multipleSources) return preset.preset.name;
    return preset.preset.name + " @" + (preset.device ? preset.device->description() : "local");
}

std::vector<Preset> presetsInGroupNamed(const std::vector<PresetGroup>& groups, const std::string& name) {
    for (const auto& group : groups)
        if (group.name == name) return group.presets;
    return {};
}

std::vector<PresetCopyJob> copyJobsForDrop(const std::vector<std::string>& items, const DevicePtr& target,
                                           const std::vector<PresetSourcePtr>& sources,
                                           const std::vector<PresetGroup>& groups) {
    std::vector<PresetCopyJob> jobs;
    for (const auto& item : items) {
        const auto parts = splitAtSlash(item);
        if (parts.size() != 3 || parts[2].empty()) continue;
        const std::string& key = parts[1];
        const std::string& name = parts[2];
        if (key == "local") {
            jobs.push_back(PresetCopyJob{nullptr, target, name});
        } else if (key == "group") {
            for (const auto& member : presetsInGroupNamed(groups, name))
                jobs.push_back(PresetCopyJob{member.device, target, member.preset.name});
        } else if (auto preset = findPreset(sources, key, name)) {
            jobs.push_back(PresetCopyJob{preset->device, target, name});
        }
    }
    std::erase_if(jobs, [](const PresetCopyJob& job) { return job.from == job.to; });
    return jobs;
}

std::vector<int> affectedRows(std::vector<int> selectedRows, int clickedRow) {
    if (clickedRow >= 0) selectedRows.push_back(clickedRow);
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    return selectedRows;
}

bool sourceCommandsEnabled(const std::vector<PresetSourcePtr>& affected) {
    return std::any_of(affected.begin(), affected.end(), [](const auto& s) { return s && s->device(); });
}

bool loadCommandEnabled(const std::vector<PresetRow>& affected) {
    return affected.size() == 1 && affected.front().preset && affected.front().preset->device;
}

std::vector<Preset> presetsOfRows(const std::vector<PresetRow>& affected) {
    std::vector<Preset> presets;
    for (const auto& row : affected)
        if (row.preset) presets.push_back(*row.preset);
    return presets;
}

std::vector<DevicePtr> devicesOfSources(const std::vector<PresetSourcePtr>& affected) {
    std::vector<DevicePtr> devices;
    for (const auto& source : affected) {
        if (!source || !source->device()) continue;
        if (std::find(devices.begin(), devices.end(), source->device()) == devices.end())
            devices.push_back(source->device());
    }
    return devices;
}

std::optional<std::string> mixerAddress(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    const auto last = text.find_last_not_of(" \t");
    const std::string trimmed = text.substr(first, last - first + 1);
    // inet_pton's rules: exactly four decimal parts, no leading zeros.
    asio::error_code error;
    const auto address = asio::ip::make_address_v4(trimmed, error);
    if (error || address.is_unspecified() || address.is_multicast()) return std::nullopt;
    return address.to_string();
}

std::string loadConfirmationText(const Preset& preset) {
    const auto name = preset.device ? preset.device->name() : std::nullopt;
    return "Are you sure you want to load \"" + preset.preset.name + "\" on " +
           name.value_or("your zelto hardware") + "? This will overwrite all current settings on the device!";
}

void askToLoadPreset(const std::vector<PresetRow>& affected, AppUi& ui,
                     std::function<void(const Preset&)> load) {
    if (affected.empty() || !affected.front().preset || !affected.front().preset->device) return;
    const Preset preset = *affected.front().preset;
    ui.confirm(AppUi::AlertStyle::warning, loadConfirmationMessage, loadConfirmationText(preset),
               loadConfirmationButton, loadCancelButton, [preset, load = std::move(load)](bool confirmed) {
                   if (confirmed && load) load(preset);
               });
}

}  // namespace zelto
