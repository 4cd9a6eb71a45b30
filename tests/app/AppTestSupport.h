#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppUi.h"

namespace zelto::test {

// Runs the Qt loop until `done` holds or `limit` passes. Everything the
// conditions look at changes in posted work, which wakes the loop.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(limit);
    while (!done()) {
        if (!deadline.isActive()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Records what the application asked of the desktop.
class FakeUi : public AppUi {
  public:
    std::vector<std::pair<AlertStyle, std::string>> alerts;
    int sheets = 0;
    // What the folder chooser answers (nothing = cancelled), and where it
    // was last asked to open.
    std::optional<std::string> chosenFolder;
    std::optional<std::string> chooserStart;
    // What confirm answers, and the texts it was asked (message and
    // informative text, one line feed between).
    bool confirmAnswer = true;
    std::vector<std::string> questions;

    void showAlert(AlertStyle style, const std::string& message) override {
        alerts.emplace_back(style, message);
    }
    void confirm(AlertStyle, const std::string& message, const std::string& informative, const std::string&,
                 const std::string&, std::function<void(bool)> done) override {
        questions.push_back(message + "\n" + informative);
        done(confirmAnswer);
    }
    void presentStatusSheet() override { ++sheets; }
    void chooseFolder(const std::string& start,
                      std::function<void(std::optional<std::string>)> done) override {
        chooserStart = start;
        done(chosenFolder);
    }
};

}  // namespace zelto::test
