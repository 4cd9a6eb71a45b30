#pragma once

// The lines of the status log that a sync, a copy batch and a reload write.
// The desktop status sheet and the zelto tool both print these, so each text
// is written once, here. Every text is marked for translation (see
// TranslatableText.h): the functions return it in the language of the
// installed translator; the constants are the English source texts, which the
// application passes through `text()` itself.
#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#include "sync/TranslatableText.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto::statustext {

// The device's description, or "local" for the sync folder (null).
std::string deviceDescription(const DevicePtr& device);
// "[\n\tA\n\tB\n]": one tab-indented extended name per line.
std::string formatPresetList(const std::vector<RemoteZeltoPreset>& list);
// An error's text in a log line.
std::string errorText(const std::exception& error);

inline constexpr const char* startingSync = QT_TRANSLATE_NOOP("StatusText", "starting sync");
inline constexpr const char* syncFinished = QT_TRANSLATE_NOOP("StatusText", "sync finished");
inline constexpr const char* startingCopy = QT_TRANSLATE_NOOP("StatusText", "starting copy");
inline constexpr const char* copyFinished = QT_TRANSLATE_NOOP("StatusText", "copy finished");
inline constexpr const char* reloadingPresetLists = QT_TRANSLATE_NOOP("StatusText", "reloading preset lists");
inline constexpr const char* finished = QT_TRANSLATE_NOOP("StatusText", "finished!");
inline constexpr const char* reloadingLocalPresets =
    QT_TRANSLATE_NOOP("StatusText", "reloading local presets");
// A run the user stopped: not a failure.
inline constexpr const char* cancelled = QT_TRANSLATE_NOOP("StatusText", "cancelled");

std::string failed(const std::exception& error);  // "failed! ..."
std::string copying(const std::string& presetName, const DevicePtr& from, const DevicePtr& to);
std::string requestingPresetList(const DevicePtr& device);
std::string receivedPresets(std::size_t count, const DevicePtr& device);
std::string failedReceivingPresetList(const DevicePtr& device, const std::exception& error);
std::string failedReloadingLocalPresets(const std::exception& error);
// A mixer that did not come online in time for a sync.
std::string leftOut(const DevicePtr& device);
// One copy item that could not be done, and why.
std::string couldNotCopy(const std::string& presetName, const std::string& reason);
// The end of a copy batch or sync in which some items failed.
std::string presetsNotCopied(int failed, int total);
// A run that failed for a reason no one could name.
std::string failedUnknown();
std::string presetsNotSynchronised(int failed);
// A planned send that could not be made.
std::string failedSending(const std::string& presetName, const DevicePtr& to, const std::exception& error);
// A sent preset that the mixer does not hold as sent, after every resend
// ("preset X did not arrive on MIXER", or "... arrived changed on MIXER").
std::string failedConfirming(const std::string& presetName, const DevicePtr& to, const std::exception& error);
std::string restoredPrevious(const std::string& presetName, const DevicePtr& to);
std::string couldNotRestorePrevious(const std::string& presetName, const DevicePtr& to);

// Turns every event of the preset manager into its status lines.
class StatusTextDelegate : public ZeltoPresetManagerDelegate {
  public:
    // One line (it may hold line feeds); `isError` marks a failure.
    virtual void statusLine(const std::string& text, bool isError) = 0;

    void presetManagerDidStartSync() override;
    void presetManagerDidFinishSync() override;
    void presetManagerWillRequestPresetList(const DevicePtr& from) override;
    void presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                           const DevicePtr& from) override;
    void presetManagerDidFailReceivingPresetList(const DevicePtr& from, const std::exception& error) override;
    void presetManagerDidDetermineRequiredPresets(const RequiredPresets& required) override;
    void presetManagerDidRequestPreset(const RemoteZeltoPreset& preset, const DevicePtr& from) override;
    void presetManagerDidReceivePreset(const RemoteZeltoPreset& preset, const DevicePtr& from) override;
    void presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& preset, const DevicePtr& from) override;
    void presetManagerDidWritePreset(const RemoteZeltoPreset& preset) override;
    void presetManagerWillOverwritePreset(const RemoteZeltoPreset& preset) override;
    void presetManagerDidFailWritingPreset(const RemoteZeltoPreset& preset,
                                           const std::exception& error) override;
    void presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                    bool overwriting) override;
    void presetManagerDidFailSendingPreset(const std::string& name, const DevicePtr& to,
                                           const std::exception& error) override;
    void presetManagerWillResendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to) override;
    void presetManagerDidFailConfirmingPreset(const std::string& name, const DevicePtr& to,
                                              const std::exception& error) override;
    void presetManagerDidRestorePreset(const std::string& name, const DevicePtr& to) override;
    void presetManagerDidFailRestoringPreset(const std::string& name, const DevicePtr& to) override;
};

}  // namespace zelto::statustext
