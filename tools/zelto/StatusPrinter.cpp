#include "StatusPrinter.h"

#include <ostream>

#include "device/ZeltoDevice.h"

namespace zelto::cli {

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

void StatusPrinter::line(const std::string& text) {
    if (progressShown_) out_ << "\r\033[K";
    out_ << text << std::endl;
    progressShown_ = false;
}

void StatusPrinter::errorLine(const std::string& text) {
    ++failures_;
    if (progressShown_) out_ << "\r\033[K" << std::flush;
    progressShown_ = false;
    err_ << text << std::endl;
}

void StatusPrinter::showProgress() {
    if (!progress_) return;
    out_ << "\r\033[K[transfers] fetched " << received_ << ", written " << written_ << ", sent " << sent_
         << ", failed " << failures_ << std::flush;
    progressShown_ = true;
}

void StatusPrinter::presetManagerDidStartSync() {
    line("sync started");
}

void StatusPrinter::presetManagerDidFinishSync() {
    line("preset manager sync finish");
}

void StatusPrinter::presetManagerWillRequestPresetList(const DevicePtr& from) {
    line(from ? "requesting preset list from " + deviceDescription(from) : "requesting local preset list");
}

void StatusPrinter::presetManagerDidReceivePresetList(const std::vector<RemoteZeltoPreset>& list,
                                                      const DevicePtr& from) {
    line(from ? "received preset list from " + deviceDescription(from) + ":" : "received local preset list:");
    line(formatPresetList(list));
}

void StatusPrinter::presetManagerDidFailReceivingPresetList(const DevicePtr& from,
                                                            const std::exception& error) {
    errorLine((from ? "failed receiving preset list from " + deviceDescription(from) + ": "
                    : std::string("failed receiving local preset list: ")) +
              error.what());
}

void StatusPrinter::presetManagerDidDetermineRequiredPresets(const RequiredPresets& required) {
    std::string text = "required remote presets: ";
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (i > 0) text += "\n";
        text += deviceDescription(required[i].first) + "\n" + formatPresetList(required[i].second);
    }
    line(text);
}

void StatusPrinter::presetManagerDidRequestPreset(const RemoteZeltoPreset& preset, const DevicePtr& from) {
    line("requested preset " + preset.name + " from " + deviceDescription(from));
}

void StatusPrinter::presetManagerDidReceivePreset(const RemoteZeltoPreset& preset, const DevicePtr& from) {
    ++received_;
    line("received preset " + preset.description() + " from " + deviceDescription(from));
    showProgress();
}

void StatusPrinter::presetManagerDidFailReceivingPreset(const RemoteZeltoPreset& preset,
                                                        const DevicePtr& from) {
    errorLine("failed receiving preset " + preset.name + " from " + deviceDescription(from));
}

void StatusPrinter::presetManagerDidWritePreset(const RemoteZeltoPreset& preset) {
    ++written_;
    line("writing preset to disk " + preset.description());
    showProgress();
}

void StatusPrinter::presetManagerWillOverwritePreset(const RemoteZeltoPreset& preset) {
    line("overwriting preset on disk " + preset.description());
}

void StatusPrinter::presetManagerDidFailWritingPreset(const RemoteZeltoPreset& preset,
                                                      const std::exception& error) {
    errorLine("failed writing preset " + preset.description() + " to disk" + ": " + error.what());
}

void StatusPrinter::presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                               bool overwriting) {
    ++sent_;
    line("sent preset " + preset.description() + " to " + deviceDescription(to) + " overwriting " +
         (overwriting ? "yes" : "no"));
    showProgress();
}

}  // namespace zelto::cli
