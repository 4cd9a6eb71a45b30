#include "sync/StatusText.h"

#include "device/ZeltoDevice.h"

namespace zelto::statustext {

std::string deviceDescription(const DevicePtr& device) {
    return device ? device->description() : "local";
}

std::string formatPresetList(const std::vector<RemoteZeltoPreset>& list) {
    std::string text = "[\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) text += "\n";
        text += "\t" + list[i].extendedName();
    }
    return text + "\n]";
}

std::string errorText(const std::exception& error) {
    return error.what();
}

std::string failed(const std::exception& error) {
    return "failed! " + errorText(error);
}

std::string copying(const std::string& presetName, const DevicePtr& from, const DevicePtr& to) {
    return "copying " + presetName + " from " + deviceDescription(from) + " to " + deviceDescription(to);
}

std::string requestingPresetList(const DevicePtr& device) {
    return "requesting preset list from " + deviceDescription(device);
}

std::string receivedPresets(std::size_t count, const DevicePtr& device) {
    return "received " + std::to_string(count) + " presets" + " from " + deviceDescription(device);
}

std::string failedReceivingPresetList(const DevicePtr& device, const std::exception& error) {
    return "failed receiving preset list from " + deviceDescription(device) + ": " + errorText(error);
}

std::string leftOut(const DevicePtr& device) {
    return "left out " + deviceDescription(device) + ": it did not come online";
}

std::string couldNotCopy(const std::string& presetName, const std::string& reason) {
    return "could not copy \"" + presetName + "\": " + reason;
}

std::string presetsNotCopied(int failed, int total) {
    return std::to_string(failed) + " of " + std::to_string(total) + " presets could not be copied";
}

std::string presetsNotSynchronised(int failed) {
    return std::to_string(failed) + (failed == 1 ? " preset" : " presets") + " could not be synchronised";
}

std::string failedSending(const std::string& presetName, const DevicePtr& to, const std::exception& error) {
    return "failed sending preset " + presetName + " to " + deviceDescription(to) + ": " + errorText(error);
}

std::string failedConfirming(const std::string& presetName, const DevicePtr& to,
                             const std::exception& error) {
    auto* managerError = dynamic_cast<const ZeltoPresetManagerError*>(&error);
    bool changed =
        managerError && managerError->errorCase() == ZeltoPresetManagerError::Case::presetStoredDifferently;
    return "preset " + presetName + (changed ? " arrived changed on " : " did not arrive on ") +
           deviceDescription(to);
}

std::string restoredPrevious(const std::string& presetName, const DevicePtr& to) {
    return "restored the previous " + presetName + " on " + deviceDescription(to);
}

std::string couldNotRestorePrevious(const std::string& presetName, const DevicePtr& to) {
    return "could not restore the previous " + presetName + " on " + deviceDescription(to);
}

std::string failedReloadingLocalPresets(const std::exception& error) {
    return "failed reloading local presets: " + errorText(error);
}

void StatusTextDelegate::presetManagerDidStartSync() {
    statusLine("sync started", false);
}

void StatusTextDelegate::presetManagerDidFinishSync() {
    statusLine("preset manager sync finish", false);
}

void StatusTextDelegate::presetManagerWillRequestPresetList(const DevicePtr& from) {
    statusLine(from ? requestingPresetList(from) : "requesting local preset list", false);
}

void StatusTextDelegate::presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                                           const DevicePtr& from) {
    statusLine(
        from ? "received preset list from " + deviceDescription(from) + ":" : "received local preset list:",
        false);
    statusLine(formatPresetList(list), false);
}

void StatusTextDelegate::presetManagerDidFailReceivingPresetList(const DevicePtr& from,
                                                                 const std::exception& error) {
    statusLine(from ? failedReceivingPresetList(from, error)
                    : "failed receiving local preset list: " + errorText(error),
               true);
}

void StatusTextDelegate::presetManagerDidDetermineRequiredPresets(const RequiredPresets& required) {
    std::string text = "required remote presets: ";
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (i > 0) text += "\n";
        text += deviceDescription(required[i].first) + "\n" + formatPresetList(required[i].second);
    }
    statusLine(text, false);
}

void StatusTextDelegate::presetManagerDidRequestPreset(const RemoteZeltoPreset& preset,
                                                       const DevicePtr& from) {
    statusLine("requested preset " + preset.name + " from " + deviceDescription(from), false);
}

void StatusTextDelegate::presetManagerDidReceivePreset(const RemoteZeltoPreset& preset,
                                                       const DevicePtr& from) {
    statusLine("received preset " + preset.description() + " from " + deviceDescription(from), false);
}

void StatusTextDelegate::presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& preset,
                                                             const DevicePtr& from) {
    statusLine("failed receiving preset " + preset.name + " from " + deviceDescription(from), true);
}

void StatusTextDelegate::presetManagerDidWritePreset(const RemoteZeltoPreset& preset) {
    statusLine("writing preset to disk " + preset.description(), false);
}

void StatusTextDelegate::presetManagerWillOverwritePreset(const RemoteZeltoPreset& preset) {
    statusLine("overwriting preset on disk " + preset.description(), false);
}

void StatusTextDelegate::presetManagerDidFailWritingPreset(const RemoteZeltoPreset& preset,
                                                           const std::exception& error) {
    statusLine("failed writing preset " + preset.description() + " to disk" + ": " + errorText(error), true);
}

void StatusTextDelegate::presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                                    bool overwriting) {
    statusLine("sent preset " + preset.description() + " to " + deviceDescription(to) + " overwriting " +
                   (overwriting ? "yes" : "no"),
               false);
}

void StatusTextDelegate::presetManagerDidFailSendingPreset(const std::string& name, const DevicePtr& to,
                                                           const std::exception& error) {
    statusLine(failedSending(name, to, error), true);
}

void StatusTextDelegate::presetManagerWillResendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to) {
    statusLine(
        "sending preset " + preset.name + " to " + deviceDescription(to) + " again: not stored as sent",
        false);
}

void StatusTextDelegate::presetManagerDidFailConfirmingPreset(const std::string& name, const DevicePtr& to,
                                                              const std::exception& error) {
    statusLine(failedConfirming(name, to, error), true);
}

// Both are red: the copy failed either way, and the mixer holds its old preset only if restored.
void StatusTextDelegate::presetManagerDidRestorePreset(const std::string& name, const DevicePtr& to) {
    statusLine(restoredPrevious(name, to), true);
}

void StatusTextDelegate::presetManagerDidFailRestoringPreset(const std::string& name, const DevicePtr& to) {
    statusLine(couldNotRestorePrevious(name, to), true);
}

}  // namespace zelto::statustext
