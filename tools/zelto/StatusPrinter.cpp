#include "StatusPrinter.h"

#include <ostream>

namespace zelto::cli {

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

void StatusPrinter::statusLine(const std::string& text, bool isError) {
    if (isError)
        errorLine(text);
    else
        line(text);
}

void StatusPrinter::showProgress() {
    if (!progress_) return;
    out_ << "\r\033[K[transfers] fetched " << received_ << ", written " << written_ << ", sent " << sent_
         << ", failed " << failures_ << std::flush;
    progressShown_ = true;
}

void StatusPrinter::presetManagerDidReceivePreset(const RemoteZeltoPreset& preset, const DevicePtr& from) {
    ++received_;
    StatusTextDelegate::presetManagerDidReceivePreset(preset, from);
    showProgress();
}

void StatusPrinter::presetManagerDidWritePreset(const RemoteZeltoPreset& preset) {
    ++written_;
    StatusTextDelegate::presetManagerDidWritePreset(preset);
    showProgress();
}

void StatusPrinter::presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                               bool overwriting) {
    ++sent_;
    StatusTextDelegate::presetManagerDidSendPreset(preset, to, overwriting);
    showProgress();
}

}  // namespace zelto::cli
