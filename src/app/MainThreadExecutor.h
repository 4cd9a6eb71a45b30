#pragma once

// The main queue of the desktop application: an Asio executor over Qt's event
// loop. Work handed to it runs on the thread that owns the context (the GUI
// thread), always later (never inline), so a coroutine co_spawned on it
// resumes there after awaiting sockets and timers of the io pool.
//
// Only ever run work here: timers and sockets belong to the io pool and bind
// their handlers to this executor. A timer made directly on this executor
// would start an Asio scheduler thread of its own inside the context.
#include <QObject>
#include <asio/execution.hpp>
#include <asio/execution_context.hpp>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace zelto {

class MainThreadExecutor;

// Lives on the GUI thread; counts what is posted and not yet run, and the
// coroutines started on it that have not ended (tracked work).
class MainThreadContext : public QObject, public asio::execution_context {
    Q_OBJECT
  public:
    explicit MainThreadContext(QObject* parent = nullptr);
    ~MainThreadContext() override;

    MainThreadExecutor executor();

    // Posted functions not yet run plus tracked work (running coroutines).
    std::size_t outstanding() const { return posted_ + tracked_; }
    // Runs the Qt event loop until nothing is outstanding or `deadline`
    // passes; true when idle. Call on the context's thread only.
    bool runUntilIdle(std::chrono::milliseconds deadline);

  signals:
    // Outstanding work dropped to zero (emitted from whichever thread saw it).
    void idle();

  private:
    friend class MainThreadExecutor;
    void post(QObject* owner, std::function<void()> function);
    void workStarted(std::atomic<std::size_t>& counter) { ++counter; }
    void workFinished(std::atomic<std::size_t>& counter);

    std::atomic<std::size_t> posted_{0};
    std::atomic<std::size_t> tracked_{0};
};

class MainThreadExecutor {
  public:
    explicit MainThreadExecutor(MainThreadContext& context) noexcept : context_(&context) {}
    MainThreadExecutor(const MainThreadExecutor& other) noexcept
        : context_(other.context_), tracked_(other.tracked_) {
        if (tracked_) context_->workStarted(context_->tracked_);
    }
    MainThreadExecutor(MainThreadExecutor&& other) noexcept
        : context_(other.context_), tracked_(std::exchange(other.tracked_, false)) {}
    MainThreadExecutor& operator=(MainThreadExecutor other) noexcept {
        std::swap(context_, other.context_);
        std::swap(tracked_, other.tracked_);
        return *this;
    }
    ~MainThreadExecutor() {
        if (tracked_) context_->workFinished(context_->tracked_);
    }

    template <class F>
    void execute(F&& f) const {
        context_->post(context_, MoveOnlyFunction(std::forward<F>(f)));
    }

    MainThreadContext& query(asio::execution::context_t) const noexcept { return *context_; }
    static constexpr asio::execution::blocking_t query(asio::execution::blocking_t) noexcept {
        return asio::execution::blocking.never;
    }
    MainThreadExecutor require(asio::execution::blocking_t::never_t) const noexcept { return *this; }
    asio::execution::outstanding_work_t query(asio::execution::outstanding_work_t) const noexcept {
        return tracked_ ? asio::execution::outstanding_work_t(asio::execution::outstanding_work.tracked)
                        : asio::execution::outstanding_work_t(asio::execution::outstanding_work.untracked);
    }
    MainThreadExecutor require(asio::execution::outstanding_work_t::tracked_t) const noexcept {
        return withTracking(true);
    }
    MainThreadExecutor require(asio::execution::outstanding_work_t::untracked_t) const noexcept {
        return withTracking(false);
    }

    friend bool operator==(const MainThreadExecutor& a, const MainThreadExecutor& b) noexcept {
        return a.context_ == b.context_;
    }
    friend bool operator!=(const MainThreadExecutor& a, const MainThreadExecutor& b) noexcept {
        return !(a == b);
    }

  private:
    // std::function wants copyable targets; Asio's handlers are move-only.
    template <class F>
    static std::function<void()> MoveOnlyFunction(F&& f) {
        using Fn = std::decay_t<F>;
        if constexpr (std::is_copy_constructible_v<Fn>) {
            return std::function<void()>(std::forward<F>(f));
        } else {
            auto held = std::make_shared<Fn>(std::forward<F>(f));
            return [held] { std::move (*held)(); };
        }
    }
    MainThreadExecutor withTracking(bool tracked) const noexcept {
        MainThreadExecutor copy(*context_);
        copy.tracked_ = tracked;
        if (tracked) context_->workStarted(context_->tracked_);
        return copy;
    }

    MainThreadContext* context_;
    bool tracked_ = false;
};

inline MainThreadExecutor MainThreadContext::executor() {
    return MainThreadExecutor(*this);
}

}  // namespace zelto
