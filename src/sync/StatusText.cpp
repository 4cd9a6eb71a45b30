#include "sync/StatusText.h"

#include "device/ZeltoDevice.h"

namespace zelto::statustext {

std::string deviceDescription(const DevicePtr& device) {
    return device ? device->description() : text(QT_TRANSLATE_NOOP("StatusText", "local"));
}

std::string formatPresetList(const std::vector<RemoteZeltoPreset>& list) {
    std::string lines = "[\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) lines += "\n";
        lines += "\t" + list[i].extendedName();
    }
    return lines + "\n]";
}

namespace {

// The names by which the mixers' sessions and the preset manager report their
// errors, marked so that the window shows them in its language.
constexpr const char* namedErrors[] = {
    QT_TRANSLATE_NOOP("StatusText", "deviceIsOffline"),
    QT_TRANSLATE_NOOP("StatusText", "connectionAlreadyStarted"),
    QT_TRANSLATE_NOOP("StatusText", "sessionEnded"),
    QT_TRANSLATE_NOOP("StatusText", "cancelled"),
    QT_TRANSLATE_NOOP("StatusText", "localPathDoesNotExist"),
    QT_TRANSLATE_NOOP("StatusText", "emptyPreset"),
    QT_TRANSLATE_NOOP("StatusText", "presetDoesNotExistAtSource"),
    QT_TRANSLATE_NOOP("StatusText", "presetDoesNotExist"),
    QT_TRANSLATE_NOOP("StatusText", "invalidPath"),
    QT_TRANSLATE_NOOP("StatusText", "cannotKeepOldPreset"),
    QT_TRANSLATE_NOOP("StatusText", "undoIncomplete"),
    QT_TRANSLATE_NOOP("StatusText", "presetNotStored"),
    QT_TRANSLATE_NOOP("StatusText", "presetStoredDifferently"),
};

}  // namespace

std::string errorText(const std::exception& error) {
    const std::string what = error.what();
    for (const char* name : namedErrors)
        if (what == name) return text(name);
    return what;
}

std::string failed(const std::exception& error) {
    return text(QT_TRANSLATE_NOOP("StatusText", "failed! %1"), {errorText(error)});
}

std::string failedUnknown() {
    return text(QT_TRANSLATE_NOOP("StatusText", "failed! unknown error"));
}

std::string copying(const std::string& presetName, const DevicePtr& from, const DevicePtr& to) {
    return text(QT_TRANSLATE_NOOP("StatusText", "copying %1 from %2 to %3"),
                {presetName, deviceDescription(from), deviceDescription(to)});
}

std::string requestingPresetList(const DevicePtr& device) {
    return text(QT_TRANSLATE_NOOP("StatusText", "requesting preset list from %1"),
                {deviceDescription(device)});
}

std::string receivedPresets(std::size_t count, const DevicePtr& device) {
    return text(QT_TRANSLATE_N_NOOP("StatusText", "received %n presets from %1"), {deviceDescription(device)},
                static_cast<int>(count));
}

std::string failedReceivingPresetList(const DevicePtr& device, const std::exception& error) {
    return text(QT_TRANSLATE_NOOP("StatusText", "failed receiving preset list from %1: %2"),
                {deviceDescription(device), errorText(error)});
}

std::string leftOut(const DevicePtr& device) {
    return text(QT_TRANSLATE_NOOP("StatusText", "left out %1: it did not come online"),
                {deviceDescription(device)});
}

std::string couldNotCopy(const std::string& presetName, const std::string& reason) {
    return text(QT_TRANSLATE_NOOP("StatusText", "could not copy \"%1\": %2"), {presetName, reason});
}

std::string presetsNotCopied(int failed, int total) {
    return text(QT_TRANSLATE_N_NOOP("StatusText", "%n of %1 presets could not be copied"),
                {std::to_string(total)}, failed);
}

std::string presetsNotSynchronised(int failed) {
    return text(QT_TRANSLATE_N_NOOP("StatusText", "%n presets could not be synchronised"), {}, failed);
}

std::string failedSending(const std::string& presetName, const DevicePtr& to, const std::exception& error) {
    return text(QT_TRANSLATE_NOOP("StatusText", "failed sending preset %1 to %2: %3"),
                {presetName, deviceDescription(to), errorText(error)});
}

std::string failedConfirming(const std::string& presetName, const DevicePtr& to,
                             const std::exception& error) {
    auto* managerError = dynamic_cast<const ZeltoPresetManagerError*>(&error);
    bool changed =
        managerError && managerError->errorCase() == ZeltoPresetManagerError::Case::presetStoredDifferently;
    return changed ? text(QT_TRANSLATE_NOOP("StatusText", "preset %1 arrived changed on %2"),
                          {presetName, deviceDescription(to)})
                   : text(QT_TRANSLATE_NOOP("StatusText", "preset %1 did not arrive on %2"),
                          {presetName, deviceDescription(to)});
}

std::string restoredPrevious(const std::string& presetName, const DevicePtr& to) {
    return text(QT_TRANSLATE_NOOP("StatusText", "restored the previous %1 on %2"),
                {presetName, deviceDescription(to)});
}

std::string couldNotRestorePrevious(const std::string& presetName, const DevicePtr& to) {
    return text(QT_TRANSLATE_NOOP("StatusText", "could not restore the previous %1 on %2"),
                {presetName, deviceDescription(to)});
}

std::string failedReloadingLocalPresets(const std::exception& error) {
    return text(QT_TRANSLATE_NOOP("StatusText", "failed reloading local presets: %1"), {errorText(error)});
}

void StatusTextDelegate::presetManagerDidStartSync() {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "sync started")), false);
}

void StatusTextDelegate::presetManagerDidFinishSync() {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "preset manager sync finish")), false);
}

void StatusTextDelegate::presetManagerWillRequestPresetList(const DevicePtr& from) {
    statusLine(from ? requestingPresetList(from)
                    : text(QT_TRANSLATE_NOOP("StatusText", "requesting local preset list")),
               false);
}

void StatusTextDelegate::presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                                           const DevicePtr& from) {
    statusLine(from ? text(QT_TRANSLATE_NOOP("StatusText", "received preset list from %1:"),
                           {deviceDescription(from)})
                    : text(QT_TRANSLATE_NOOP("StatusText", "received local preset list:")),
               false);
    statusLine(formatPresetList(list), false);
}

void StatusTextDelegate::presetManagerDidFailReceivingPresetList(const DevicePtr& from,
                                                                 const std::exception& error) {
    statusLine(from ? failedReceivingPresetList(from, error)
                    : text(QT_TRANSLATE_NOOP("StatusText", "failed receiving local preset list: %1"),
                           {errorText(error)}),
               true);
}

void StatusTextDelegate::presetManagerDidDetermineRequiredPresets(const RequiredPresets& required) {
    std::string lists;
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (i > 0) lists += "\n";
        lists += deviceDescription(required[i].first) + "\n" + formatPresetList(required[i].second);
    }
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "required remote presets: %1"), {lists}), false);
}

void StatusTextDelegate::presetManagerDidRequestPreset(const RemoteZeltoPreset& preset,
                                                       const DevicePtr& from) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "requested preset %1 from %2"),
                    {preset.name, deviceDescription(from)}),
               false);
}

void StatusTextDelegate::presetManagerDidReceivePreset(const RemoteZeltoPreset& preset,
                                                       const DevicePtr& from) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "received preset %1 from %2"),
                    {preset.description(), deviceDescription(from)}),
               false);
}

void StatusTextDelegate::presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& preset,
                                                             const DevicePtr& from) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "failed receiving preset %1 from %2"),
                    {preset.name, deviceDescription(from)}),
               true);
}

void StatusTextDelegate::presetManagerDidWritePreset(const RemoteZeltoPreset& preset) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "writing preset to disk %1"), {preset.description()}),
               false);
}

void StatusTextDelegate::presetManagerWillOverwritePreset(const RemoteZeltoPreset& preset) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "overwriting preset on disk %1"), {preset.description()}),
               false);
}

void StatusTextDelegate::presetManagerDidFailWritingPreset(const RemoteZeltoPreset& preset,
                                                           const std::exception& error) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "failed writing preset %1 to disk: %2"),
                    {preset.description(), errorText(error)}),
               true);
}

void StatusTextDelegate::presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                                    bool overwriting) {
    statusLine(overwriting ? text(QT_TRANSLATE_NOOP("StatusText", "sent preset %1 to %2 overwriting yes"),
                                  {preset.description(), deviceDescription(to)})
                           : text(QT_TRANSLATE_NOOP("StatusText", "sent preset %1 to %2 overwriting no"),
                                  {preset.description(), deviceDescription(to)}),
               false);
}

void StatusTextDelegate::presetManagerDidFailSendingPreset(const std::string& name, const DevicePtr& to,
                                                           const std::exception& error) {
    statusLine(failedSending(name, to, error), true);
}

void StatusTextDelegate::presetManagerWillResendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to) {
    statusLine(text(QT_TRANSLATE_NOOP("StatusText", "sending preset %1 to %2 again: not stored as sent"),
                    {preset.name, deviceDescription(to)}),
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
