#include "app/RunCoordinator.h"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/co_spawn.hpp>

#include "app/AppUi.h"
#include "sync/StatusText.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {

RunCoordinator::RunCoordinator(MainThreadContext& mainThread, AppUi& ui, QObject* parent)
    : QObject(parent), mainThread_(mainThread), ui_(ui) {
    connect(&statusLog_, &StatusLog::cancelRequested, this, &RunCoordinator::cancel);
}

bool RunCoordinator::start(Body body, Body afterCancel) {
    if (active_ || holds_ > 0 || shutDown_) return false;
    active_ = true;
    cancelRequested_ = false;
    ui_.presentStatusSheet();
    statusLog_.clear();
    auto running = run(std::move(body), std::move(afterCancel));
    asio::co_spawn(mainThread_.executor(), std::move(running), [](std::exception_ptr) {});
    return true;
}

bool RunCoordinator::hold() {
    if (active_ || shutDown_) return false;
    ++holds_;
    Q_EMIT busyChanged();
    return true;
}

void RunCoordinator::release() {
    if (holds_ == 0) return;
    --holds_;
    Q_EMIT busyChanged();
}

// The body is bound to the cancel signal; what runs after a cancel is not.
Task<void> RunCoordinator::run(Body body, Body afterCancel) {
    std::exception_ptr error;
    try {
        // A cancel that came before the body could hear it.
        if (cancelRequested_) throw ZeltoPresetManagerError(ZeltoPresetManagerError::Case::cancelled);
        auto work = body();
        auto bound = asio::co_spawn(mainThread_.executor(), std::move(work),
                                    asio::bind_cancellation_slot(cancelSignal_.slot(), asio::use_awaitable));
        co_await std::move(bound);
    } catch (...) {
        error = std::current_exception();
    }
    if (!error) {
        finish(Outcome::succeeded);
        co_return;
    }
    if (cancelRequested_) {
        statusLog_.append(statustext::text(statustext::cancelled));
        if (afterCancel) {
            try {
                auto after = afterCancel();
                co_await std::move(after);
            } catch (const std::exception& e) {
                statusLog_.append(statustext::failed(e), true);
            }
        }
        finish(Outcome::cancelled);
        co_return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        statusLog_.append(statustext::failed(e), true);
    } catch (...) {
        statusLog_.append(statustext::failedUnknown(), true);
    }
    finish(Outcome::failed);
}

void RunCoordinator::finish(Outcome outcome) {
    lastOutcome_ = outcome;
    active_ = false;
    statusLog_.finish();
    emit runFinished();
}

// Qt's `emit` keyword is a macro; Asio's signal has a member of that name.
#pragma push_macro("emit")
#undef emit
void RunCoordinator::cancel() {
    if (!active_ || cancelRequested_) return;
    cancelRequested_ = true;
    statusLog_.cancel();
    cancelSignal_.emit(asio::cancellation_type::terminal);
}
#pragma pop_macro("emit")

void RunCoordinator::shutDown() {
    cancel();
    shutDown_ = true;
}

}  // namespace zelto
