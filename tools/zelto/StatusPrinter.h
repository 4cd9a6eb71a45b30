#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "sync/StatusText.h"

namespace zelto::cli {

using statustext::deviceDescription;
using statustext::formatPresetList;

// Writes the manager's events as the status log lines; error lines go to
// `err`. Remembers whether anything failed so the command can exit with 1.
class StatusPrinter : public statustext::StatusTextDelegate {
  public:
    StatusPrinter(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // A transfer counter kept on the last line (for terminals).
    void setProgress(bool enabled) { progress_ = enabled; }
    void line(const std::string& text);
    void errorLine(const std::string& text);
    bool anyFailure() const { return failures_ > 0; }
    int failureCount() const { return failures_; }
    int writtenCount() const { return written_; }
    int sentCount() const { return sent_; }

    void statusLine(const std::string& text, bool isError) override;
    void presetManagerDidReceivePreset(const RemoteZeltoPreset& preset, const DevicePtr& from) override;
    void presetManagerDidWritePreset(const RemoteZeltoPreset& preset) override;
    void presetManagerDidSendPreset(const RemoteZeltoPreset& preset, const DevicePtr& to,
                                    bool overwriting) override;

  private:
    std::ostream& out_;
    std::ostream& err_;
    void showProgress();

    bool progress_ = false;
    bool progressShown_ = false;
    int received_ = 0;
    int failures_ = 0;
    int written_ = 0;
    int sent_ = 0;
};

}  // namespace zelto::cli
