#pragma once

#include <QPointer>
#include <QWidget>

#include "app/AppUi.h"

namespace zelto::ui {

class StatusSheet;

// The application layer's alerts, status sheet and folder chooser as
// widgets. Nothing here blocks: alerts and choosers are window-modal and
// answer through their callbacks.
class WidgetUi : public AppUi {
  public:
    // The main window, and the status sheet it shows for long runs.
    void setWindow(QWidget* window, StatusSheet* statusSheet);

    void showAlert(AlertStyle style, const std::string& message) override;
    void confirm(AlertStyle style, const std::string& message, const std::string& informativeText,
                 const std::string& confirmButton, const std::string& cancelButton,
                 std::function<void(bool confirmed)> done) override;
    void presentStatusSheet() override;
    void chooseFolder(const std::string& startFolder,
                      std::function<void(std::optional<std::string> path)> done) override;

  private:
    // The window an alert belongs to: the active dialog (settings) or the main window.
    QWidget* alertParent() const;

    QPointer<QWidget> window_;
    QPointer<StatusSheet> statusSheet_;
};

}  // namespace zelto::ui
