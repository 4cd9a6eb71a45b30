#pragma once

// The concurrency model shared by every layer.
//
// * One asio::io_context is the shared task pool. `IoPool` owns it and runs it
//   on a few threads. Every asynchronous task is a C++20 coroutine
//   (asio::awaitable<T>) started with asio::co_spawn.
// * A serial queue is a `Strand` over the pool (`makeStrand`). Components that
//   the design gives "their own queue" (server, client, dispatcher) take an
//   optional strand and make one when none is given.
// * The "main queue" is whatever executor the owner hands in: a strand of the
//   pool in tools and tests, the GUI's executor in the desktop application.
// * Nothing blocks a pool thread to wait. Waits are co_awaited; a thread that
//   is not part of the pool (main(), a test body) may use `blockOn` to run one
//   coroutine to its end.
// * GCC 12 miscompiles two coroutine shapes (double destruction, early
//   release): a lambda with non-trivial captures created as a temporary inside
//   a co_await expression, and a co_await inside a call's argument list. Name
//   such objects and results first, then co_await.
#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace zelto {

using Executor = asio::any_io_executor;
using Strand = asio::strand<asio::any_io_executor>;

template <class T>
using Task = asio::awaitable<T, Executor>;

inline Strand makeStrand(const Executor& executor) {
    return asio::make_strand(executor);
}

// The shared task pool: one io_context run by `threads` threads until the pool
// is destroyed (or `stop` is called).
class IoPool {
  public:
    explicit IoPool(unsigned threads = 2);
    ~IoPool();
    IoPool(const IoPool&) = delete;
    IoPool& operator=(const IoPool&) = delete;

    asio::io_context& context() noexcept { return context_; }
    Executor executor() { return context_.get_executor(); }
    Strand makeStrand() { return asio::make_strand(Executor(context_.get_executor())); }

    // The process-wide pool, started on first use, for components that are
    // given no executor (servers and clients without a queue).
    static IoPool& shared();

    // Stops the context and joins the threads. Handlers that have not run yet
    // are destroyed with the pool, so owners finish their streams first.
    void stop();
    // The orderly end, once the owner has closed its sockets and cancelled its
    // timers: lets every pending handler and coroutine run to its end, then
    // joins. True when the pool ran out of work in time; otherwise it falls
    // back to `stop`. Like `stop`, never called from a thread of the pool.
    bool drain(std::chrono::steady_clock::duration deadline);

  private:
    void join();

    asio::io_context context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable finished_;
    unsigned running_ = 0;
};

// Runs `task` on `executor` and blocks the calling thread until it ends,
// returning its result or rethrowing its exception. Never call it from a
// thread of the pool that must run the task.
template <class T>
T blockOn(const Executor& executor, Task<T> task) {
    std::promise<T> promise;
    auto future = promise.get_future();
    asio::co_spawn(executor, std::move(task), [&promise](std::exception_ptr error, T value) {
        if (error)
            promise.set_exception(error);
        else
            promise.set_value(std::move(value));
    });
    return future.get();
}

inline void blockOn(const Executor& executor, Task<void> task) {
    std::promise<void> promise;
    auto future = promise.get_future();
    asio::co_spawn(executor, std::move(task), [&promise](std::exception_ptr error) {
        if (error)
            promise.set_exception(error);
        else
            promise.set_value();
    });
    future.get();
}

}  // namespace zelto
