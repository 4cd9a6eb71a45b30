#pragma once

#include <functional>
#include <optional>
#include <string>

namespace zelto {

// What the application layer asks of the desktop: alerts, the status sheet and
// the folder chooser. The desktop program implements it; tests replace it.
// Called on the main thread.
class AppUi {
  public:
    enum class AlertStyle { warning, critical };

    virtual ~AppUi() = default;
    // A modal alert with one message text.
    virtual void showAlert(AlertStyle style, const std::string& message) = 0;
    // A sheet alert on the main window with a message, an informative text
    // and two buttons; `done(true)` when the first button was chosen.
    virtual void confirm(AlertStyle style, const std::string& message, const std::string& informativeText,
                         const std::string& confirmButton, const std::string& cancelButton,
                         std::function<void(bool confirmed)> done) = 0;
    // Brings the status sheet (showing the controller's StatusLog) in front
    // of the main window; a run is about to start.
    virtual void presentStatusSheet() = 0;
    // Lets the user pick one existing folder (new folders may be created),
    // opening at `startFolder` (when it exists). `done` gets the folder's path, or nothing when the chooser
    // was cancelled; it may be called before this returns or later, on the main thread.
    virtual void chooseFolder(const std::string& startFolder,
                              std::function<void(std::optional<std::string> path)> done) = 0;
};

}  // namespace zelto
