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
#include <mutex>
#include <type_traits>
#include <utility>

namespace zelto {

class MainThreadContext;
class MainThreadExecutor;

namespace detail {

// What executors share with their context. It outlives the context: an
// executor copy still held by the pool (a coroutine frame destroyed late)
// then finds no context and posts nothing.
struct MainThreadCore {
    std::recursive_mutex mutex;
    MainThreadContext* context = nullptr;  // null once the context is gone
    std::atomic<std::size_t> posted{0};
    std::atomic<std::size_t> tracked{0};

    void started(std::atomic<std::size_t>& counter) { ++counter; }
    void finished(std::atomic<std::size_t>& counter);
    void post(std::function<void()> function);
};

}  // namespace detail

// Lives on the GUI thread; counts what is posted and not yet run, and the
// coroutines started on it that have not ended (tracked work).
class MainThreadContext : public QObject, public asio::execution_context {
    Q_OBJECT
  public:
    explicit MainThreadContext(QObject* parent = nullptr);
    ~MainThreadContext() override;

    MainThreadExecutor executor();

    // Posted functions not yet run plus tracked work (running coroutines).
    std::size_t outstanding() const { return core_->posted + core_->tracked; }
    // Runs the Qt event loop until nothing is outstanding or `deadline`
    // passes; true when idle. Call on the context's thread only.
    bool runUntilIdle(std::chrono::milliseconds deadline);

  signals:
    // Outstanding work dropped to zero (emitted from whichever thread saw it).
    void idle();

  private:
    friend struct detail::MainThreadCore;
    std::shared_ptr<detail::MainThreadCore> core_;
};

class MainThreadExecutor {
  public:
    explicit MainThreadExecutor(std::shared_ptr<detail::MainThreadCore> core) noexcept
        : core_(std::move(core)) {}
    MainThreadExecutor(const MainThreadExecutor& other) noexcept
        : core_(other.core_), tracked_(other.tracked_) {
        if (tracked_) core_->started(core_->tracked);
    }
    MainThreadExecutor(MainThreadExecutor&& other) noexcept
        : core_(other.core_), tracked_(std::exchange(other.tracked_, false)) {}
    MainThreadExecutor& operator=(MainThreadExecutor other) noexcept {
        std::swap(core_, other.core_);
        std::swap(tracked_, other.tracked_);
        return *this;
    }
    ~MainThreadExecutor() {
        if (tracked_) core_->finished(core_->tracked);
    }

    template <class F>
    void execute(F&& f) const {
        core_->post(moveOnlyFunction(std::forward<F>(f)));
    }

    // The context, or a context of no use once it is gone: an executor copy
    // that outlives it (a coroutine frame destroyed late on the pool) may
    // still be asked, and must not reach a destroyed object.
    asio::execution_context& query(asio::execution::context_t) const noexcept;
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
        return a.core_ == b.core_;
    }
    friend bool operator!=(const MainThreadExecutor& a, const MainThreadExecutor& b) noexcept {
        return !(a == b);
    }

  private:
    // std::function wants copyable targets; Asio's handlers are move-only.
    template <class F>
    static std::function<void()> moveOnlyFunction(F&& f) {
        using Fn = std::decay_t<F>;
        if constexpr (std::is_copy_constructible_v<Fn>) {
            return std::function<void()>(std::forward<F>(f));
        } else {
            auto held = std::make_shared<Fn>(std::forward<F>(f));
            return [held] { std::move (*held)(); };
        }
    }
    MainThreadExecutor withTracking(bool tracked) const noexcept {
        MainThreadExecutor copy(core_);
        copy.tracked_ = tracked;
        if (tracked) core_->started(core_->tracked);
        return copy;
    }

    std::shared_ptr<detail::MainThreadCore> core_;
    bool tracked_ = false;
};

inline MainThreadExecutor MainThreadContext::executor() {
    return MainThreadExecutor(core_);
}

}  // namespace zelto
