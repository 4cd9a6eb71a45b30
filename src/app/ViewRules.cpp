#include "app/ViewRules.h"

#include <QCoreApplication>
#include <algorithm>
#include <asio/ip/address_v4.hpp>

#include "device/ZeltoDevice.h"

namespace zelto {

namespace {

std::string translated(const char* source, const std::string& arg = {}) {
    QString text = QCoreApplication::translate("ViewRules", source);
    if (text.contains(QLatin1String("%1"))) text = text.arg(QString::fromStdString(arg));
    return text.toStdString();
}

// Collects the jobs of one drop or menu command onto `target`: copies onto
// their own source are left out, and each (source, name, problem) once.
class JobCollector {
  public:
    JobCollector(DevicePtr target, const std::vector<PresetSourcePtr>& sources)
        : target_(std::move(target)), sources_(sources) {}

    // A preset of the source of `device`, checked against the listed presets.
    void addPreset(const DevicePtr& device, const std::string& name) {
        const PresetSourcePtr source = sourceOf(device);
        if (!source)
            return addProblem(
                device, name,
                device
                    ? translated(QT_TRANSLATE_NOOP("ViewRules", "the mixer %1 is no longer connected"),
                                 device->description())
                    : translated(QT_TRANSLATE_NOOP("ViewRules", "the sync folder's list could not be read")));
        if (name.find('/') != std::string::npos)
            return addProblem(device, name,
                              translated(QT_TRANSLATE_NOOP(
                                  "ViewRules", "a preset name holding \"/\" cannot be a file name")));
        const auto listed = source->presets();
        if (std::none_of(listed.begin(), listed.end(), [&](const auto& p) { return p.name == name; }))
            return addProblem(
                device, name,
                translated(QT_TRANSLATE_NOOP("ViewRules", "it is no longer listed on %1"), source->name()));
        add(PresetCopyJob{device, target_, name});
    }
    // The presets shown under the heading `name`.
    void addGroup(const std::vector<PresetGroup>& groups, const std::string& name) {
        const auto group =
            std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.name == name; });
        if (group == groups.end())
            return add(
                PresetCopyJob{nullptr, target_, name,
                              translated(QT_TRANSLATE_NOOP("ViewRules", "no group of this name is shown"))});
        for (const auto& member : group->presets) addPreset(member.device, member.preset.name);
    }
    // A problem with a known source: nothing to report when it is the target.
    void addProblem(const DevicePtr& from, const std::string& name, std::string problem) {
        add(PresetCopyJob{from, target_, name, std::move(problem)});
    }
    // A problem whose source is unknown.
    void addUnresolved(const std::string& name, std::string problem) {
        jobs_.push_back(PresetCopyJob{nullptr, target_, name, std::move(problem)});
    }

    std::vector<PresetCopyJob> take() { return std::move(jobs_); }

  private:
    PresetSourcePtr sourceOf(const DevicePtr& device) const {
        for (const auto& source : sources_)
            if (sameDevice(source->device(), device)) return source;
        return nullptr;
    }
    void add(PresetCopyJob job) {
        if (job.problem.empty() && sameDevice(job.from, target_)) return;
        if (!job.problem.empty() && job.from && sameDevice(job.from, target_)) return;
        const bool known = std::any_of(jobs_.begin(), jobs_.end(), [&](const PresetCopyJob& j) {
            return sameDevice(j.from, job.from) && j.presetName == job.presetName && j.problem == job.problem;
        });
        if (!known) jobs_.push_back(std::move(job));
    }

    DevicePtr target_;
    const std::vector<PresetSourcePtr>& sources_;
    std::vector<PresetCopyJob> jobs_;
};

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
    return preset.preset.name + " @" +
           (preset.device ? preset.device->description()
                          : translated(QT_TRANSLATE_NOOP("ViewRules", "local")));
}

std::vector<Preset> presetsInGroupNamed(const std::vector<PresetGroup>& groups, const std::string& name) {
    for (const auto& group : groups)
        if (group.name == name) return group.presets;
    return {};
}

std::vector<PresetCopyJob> copyJobsForDrop(const std::vector<std::string>& items, const DevicePtr& target,
                                           const std::vector<PresetSourcePtr>& sources,
                                           const std::vector<PresetGroup>& groups) {
    JobCollector jobs(target, sources);
    for (const auto& item : items) {
        if (item.empty()) continue;
        const auto keyEnd = item.size() > 1 && item[0] == '/' ? item.find('/', 1) : std::string::npos;
        const std::string key = keyEnd == std::string::npos ? std::string() : item.substr(1, keyEnd - 1);
        const std::string name = keyEnd == std::string::npos ? std::string() : item.substr(keyEnd + 1);
        // A group's name may be empty (presets whose names start with a separator).
        if (key.empty() || (name.empty() && key != "group")) {
            jobs.addUnresolved(item,
                               translated(QT_TRANSLATE_NOOP("ViewRules", "this names no preset or group")));
            continue;
        }
        if (key == "group") {
            jobs.addGroup(groups, name);
        } else if (key == "local") {
            jobs.addPreset(nullptr, name);
        } else {
            const auto source = std::find_if(sources.begin(), sources.end(), [&](const PresetSourcePtr& s) {
                return s->device() && s->device()->ip().to_string() == key;
            });
            if (source == sources.end())
                jobs.addUnresolved(
                    name,
                    translated(QT_TRANSLATE_NOOP("ViewRules", "the mixer %1 is no longer connected"), key));
            else
                jobs.addPreset((*source)->device(), name);
        }
    }
    return jobs.take();
}

std::vector<PresetCopyJob> copyJobsForRows(const std::vector<PresetRow>& rows, const DevicePtr& target,
                                           const std::vector<PresetSourcePtr>& sources,
                                           const std::vector<PresetGroup>& groups) {
    JobCollector jobs(target, sources);
    for (const auto& row : rows) {
        if (row.preset)
            jobs.addPreset(row.preset->device, row.preset->preset.name);
        else
            jobs.addGroup(groups, row.groupName);
    }
    return jobs.take();
}

std::vector<Preset> presetsToDelete(const std::vector<PresetRow>& selected, bool presetViewHasFocus) {
    return presetViewHasFocus ? presetsOfRows(selected) : std::vector<Preset>{};
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
    const QString mixer = name ? QString::fromStdString(*name)
                               : QCoreApplication::translate("ViewRules", "your zelto hardware");
    return QCoreApplication::translate("ViewRules",
                                       "Are you sure you want to load \"%1\" on %2? This will overwrite all "
                                       "current settings on the device!")
        .arg(QString::fromStdString(preset.preset.name), mixer)
        .toStdString();
}

void askToLoadPreset(const std::vector<PresetRow>& affected, AppUi& ui,
                     std::function<void(const Preset&)> load) {
    if (affected.empty() || !affected.front().preset || !affected.front().preset->device) return;
    const Preset preset = *affected.front().preset;
    ui.confirm(AppUi::AlertStyle::warning, translated(loadConfirmationMessage), loadConfirmationText(preset),
               translated(loadConfirmationButton), translated(loadCancelButton),
               [preset, load = std::move(load)](bool confirmed) {
                   if (confirmed && load) load(preset);
               });
}

}  // namespace zelto
