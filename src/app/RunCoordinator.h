#pragma once

#include <QObject>
#include <asio/cancellation_signal.hpp>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "app/MainThreadExecutor.h"
#include "app/StatusLog.h"
#include "async/Executor.h"

namespace zelto {

class AppUi;

// A run that could not do everything it was asked: its body throws this after
// logging each failed item; the log then ends in red with `what()`.
class RunIncomplete : public std::exception {
  public:
    explicit RunIncomplete(std::string text) : text_(std::move(text)) {}
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

// The long runs of the application (sync, copy batch, undo, reload), one at a
// time, with the status log they write, their cancel and how each ended.
//
// A run's body is a coroutine on the main thread. It succeeds by returning and
// fails by throwing (the log gets "failed! " and the error, in red). Cancel
// (the status sheet's, or `cancel()`) ends it as "cancelled", a plain line and
// no failure; `afterCancel` then runs to its end, uncancellable, so the lists
// show what was written or sent before the cancel.
//
// Main thread only.
class RunCoordinator : public QObject {
    Q_OBJECT
  public:
    enum class Outcome { succeeded, failed, cancelled };
    using Body = std::function<Task<void>()>;

    RunCoordinator(MainThreadContext& mainThread, AppUi& ui, QObject* parent = nullptr);

    // Clears the log, presents the status sheet and starts `body`; false (and
    // nothing happens) while another run is going on or after shutDown.
    bool start(Body body, Body afterCancel = {});
    void cancel();
    bool active() const { return active_; }
    // Short work outside the status sheet that no run may overlap (a delete):
    // false while a run is going on or after shutDown; else start() refuses
    // until the matching release().
    bool hold();
    void release();
    // A run or a hold is going on.
    bool busy() const { return active_ || holds_ > 0; }
    // How the last run ended; none before the first has ended.
    std::optional<Outcome> lastOutcome() const { return lastOutcome_; }

    StatusLog& statusLog() { return statusLog_; }
    // Cancels the current run and refuses new ones.
    void shutDown();

  signals:
    // A run ended (after the log's finish).
    void runFinished();
    // A hold began or ended (see busy()).
    void busyChanged();

  private:
    Task<void> run(Body body, Body afterCancel);
    void finish(Outcome outcome);

    MainThreadContext& mainThread_;
    AppUi& ui_;
    StatusLog statusLog_;
    asio::cancellation_signal cancelSignal_;
    std::optional<Outcome> lastOutcome_;
    bool active_ = false;
    int holds_ = 0;
    bool cancelRequested_ = false;
    bool shutDown_ = false;
};

}  // namespace zelto
