#include "sync/ZeltoPresetManager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sync/PresetFiles.h"

namespace zelto {

namespace {

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string lastPathComponentWithoutExtension(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

}  // namespace

const char* ZeltoPresetManagerError::what() const noexcept {
    switch (case_) {
        case Case::localPathDoesNotExist:
            return "localPathDoesNotExist";
        case Case::emptyPreset:
            return "emptyPreset";
        case Case::presetDoesNotExistAtSource:
            return "presetDoesNotExistAtSource";
        case Case::presetDoesNotExist:
            return "presetDoesNotExist";
        case Case::invalidPath:
            return "invalidPath";
        case Case::presetNotStored:
            return "presetNotStored";
        case Case::presetStoredDifferently:
            return "presetStoredDifferently";
        case Case::cancelled:
            return "cancelled";
    }
    return "ZeltoPresetManagerError";
}

ZeltoPresetManager::ZeltoPresetManager(std::vector<DevicePtr> devices, std::string localPath)
    : devices_(std::move(devices)), localPath_(withSlash(std::move(localPath))) {}

std::string ZeltoPresetManager::zeltoAppPresetPath() {
    return presetfiles::homeDirectory() +
           "/Library/Containers/com.zeltotechnologies.zeltoapp/Data/Library/ZELTOtechnologies/Presets/";
}

std::string defaultSyncDirectoryPath() {
    std::string companion = ZeltoPresetManager::zeltoAppPresetPath();
    std::error_code ec;
    if (std::filesystem::exists(companion, ec)) return companion;
    return presetfiles::homeDirectory() + "/Downloads/";
}

std::vector<RemoteZeltoPreset> ZeltoPresetManager::localPresetList(const std::string& localPath) {
    std::vector<RemoteZeltoPreset> list;
    for (auto& file : presetfiles::listFolder(localPath)) {
        // The name on disk is the plain name: no date suffix is split off it.
        RemoteZeltoPreset preset("");
        preset.name = std::move(file.name);
        preset.date = file.modified;
        list.push_back(std::move(preset));
    }
    return list;
}

RemoteZeltoPreset ZeltoPresetManager::loadPreset(const std::string& name) const {
    if (!presetfiles::isSafePresetName(name))
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::invalidPath);
    return loadPresetAtPath(presetfiles::presetFilePath(localPath_, name));
}

RemoteZeltoPreset ZeltoPresetManager::loadPresetAtPath(const std::string& path) {
    auto content = presetfiles::readFile(path);
    if (!content) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::presetDoesNotExist);
    RemoteZeltoPreset preset("");
    preset.name = lastPathComponentWithoutExtension(path);
    preset.date = content->modified;
    preset.bytes = std::move(content->bytes);
    return preset;
}

ZeltoPresetManager::WriteOutcome ZeltoPresetManager::writePresetToLocal(const RemoteZeltoPreset& preset) const {
    using Case = ZeltoPresetManagerError::Case;
    WriteOutcome outcome;
    if (!preset.bytes || preset.bytes->empty()) {
        outcome.error = std::make_exception_ptr(ZeltoPresetManagerError(Case::emptyPreset));
    } else if (!presetfiles::isSafePresetName(preset.name)) {
        outcome.error = std::make_exception_ptr(ZeltoPresetManagerError(Case::invalidPath));
    } else {
        auto date = preset.date.value_or(presetfiles::Clock::now());
        std::string fileName = preset.name + std::string(presetfiles::kSuffix);
        if (auto ec = presetfiles::writeFileAtomically(localPath_, fileName, *preset.bytes, date, outcome.replaced))
            outcome.error = std::make_exception_ptr(std::system_error(ec, "writing " + localPath_ + fileName));
    }
    return outcome;
}

bool ZeltoPresetManager::reportWrite(const RemoteZeltoPreset& preset, const WriteOutcome& outcome) {
    if (outcome.error) {
        ++failedItems_;
        try {
            std::rethrow_exception(outcome.error);
        } catch (const std::exception& e) {
            if (delegate) delegate->presetManagerDidFailWritingPreset(preset, e);
        }
        return false;
    }
    if (!delegate) return true;
    if (outcome.replaced) delegate->presetManagerWillOverwritePreset(preset);
    delegate->presetManagerDidWritePreset(preset);
    return true;
}

void ZeltoPresetManager::writePresetsToLocal(const std::vector<RemoteZeltoPreset>& presets) {
    for (const auto& preset : presets) reportWrite(preset, writePresetToLocal(preset));
}

void ZeltoPresetManager::deletePreset(const std::string& name, const std::string& at) {
    if (!presetfiles::isSafePresetName(name))
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::invalidPath);
    std::string path = presetfiles::presetFilePath(withSlash(at), name);
    if (::unlink(path.c_str()) != 0) {
        throw std::filesystem::filesystem_error("cannot delete preset file", path,
                                                std::error_code(errno, std::generic_category()));
    }
}

}  // namespace zelto
