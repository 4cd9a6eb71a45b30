#include "sync/ZeltoPresetManager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "async/Log.h"
#include "device/ZeltoDevice.h"
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
        case Case::cannotKeepOldPreset:
            return "cannotKeepOldPreset";
        case Case::undoIncomplete:
            return "undoIncomplete";
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
    : devices_(std::move(devices)),
      localPath_(withSlash(std::move(localPath))),
      history_(std::make_shared<History>(localPath_)),
      operation_(HistoryOperation::make("write")) {}

HistoryLocation historyLocation(const DevicePtr& device) {
    if (!device) return HistoryLocation::folder();
    HistoryLocation location;
    location.mixer = true;
    location.name = device->name().value_or("");
    location.serial = device->serialNumber().value_or("");
    location.uid = device->uid().value_or("");
    location.address = device->ip().to_string();
    return location;
}

void ZeltoPresetManager::setHistoryLimits(HistoryLimits limits) {
    history_ = std::make_shared<History>(localPath_, limits);
}

void ZeltoPresetManager::beginDeletes() {
    beginOperation("delete", "a delete");
    groupedDeletes_ = true;
}

void ZeltoPresetManager::beginOperation(std::string kind, std::string source, std::string undoes) {
    operation_ = HistoryOperation::make(std::move(kind), std::move(undoes));
    source_ = std::move(source);
    groupedDeletes_ = false;
}

// Throws cannotKeepOldPreset, or with `force` only logs that no copy is kept.
void ZeltoPresetManager::keepFailed(const std::exception& error, const std::string& what) const {
    std::string why = what + " could not be kept in the history";
    if (auto* h = dynamic_cast<const HistoryError*>(&error))
        why += " (" + h->detail() + ")";
    else if (auto* m = dynamic_cast<const ZeltoPresetManagerError*>(&error); m && !m->detail().empty())
        why += " (" + m->detail() + ")";
    else
        why += std::string(" (") + error.what() + ")";
    if (force) {
        logFormat(LogCategory::sync, LogLevel::critical, "%s; going on without a copy as forced", why.c_str());
        return;
    }
    throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cannotKeepOldPreset,
                                  why + "; nothing was changed");
}

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
        std::exception_ptr keepError;
        auto keepOld = [&] {
            if (!keepsHistory) return true;
            try {
                std::string reason = "replaced by " + (source_.empty() ? operation_.kind : source_);
                history_->keepFolderFile(preset.name, HistoryEvent::replaced, reason, operation_);
                return true;
            } catch (const std::exception& e) {
                try {
                    keepFailed(e, "the local preset \"" + preset.name + "\"");
                    return true;
                } catch (...) {
                    keepError = std::current_exception();
                    return false;
                }
            }
        };
        auto ec = presetfiles::writeFileAtomically(localPath_, fileName, *preset.bytes, date, outcome.replaced,
                                                   keepOld);
        if (keepError) {
            outcome.error = keepError;
        } else if (ec) {
            outcome.error = std::make_exception_ptr(std::system_error(ec, "writing " + localPath_ + fileName));
        } else if (!outcome.replaced && keepsHistory) {
            try {
                history_->recordAdded(preset.name, HistoryLocation::folder(),
                                      "added by " + (source_.empty() ? operation_.kind : source_), operation_);
            } catch (const std::exception& e) {
                // The preset is written; only an undo will not know to remove it.
                logFormat(LogCategory::sync, LogLevel::critical, "history: the added preset %s is not recorded: %s",
                          preset.name.c_str(), e.what());
            }
        }
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

void ZeltoPresetManager::deleteLocalPreset(const std::string& name) {
    if (!presetfiles::isSafePresetName(name))
        throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::invalidPath);
    std::string path = presetfiles::presetFilePath(localPath_, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::filesystem::filesystem_error("cannot delete preset file", path,
                                                std::error_code(errno, std::generic_category()));
    }
    if (!undoing_ && !groupedDeletes_) beginOperation("delete", "a delete");
    if (keepsHistory) {
        try {
            history_->deleteFolderFile(name, "deleted", operation_);
            return;
        } catch (const std::exception& e) {
            keepFailed(e, "the local preset \"" + name + "\"");
        }
    }
    if (::unlink(path.c_str()) != 0) {
        throw std::filesystem::filesystem_error("cannot delete preset file", path,
                                                std::error_code(errno, std::generic_category()));
    }
}

void ZeltoPresetManager::deletePreset(const std::string& name, const std::string& at, bool force) {
    ZeltoPresetManager manager({}, at);
    manager.force = force;
    manager.deleteLocalPreset(name);
    try {
        manager.history().prune();
    } catch (const std::exception&) {
        // Logged by the history; the delete itself is done.
    }
}

}  // namespace zelto
