#pragma once

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zelto::test {

// An io_context run by two threads for the life of a test.
class IoRunner {
  public:
    IoRunner() : guard_(io.get_executor()) {
        for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { io.run(); });
    }
    ~IoRunner() {
        guard_.reset();
        io.stop();
        for (auto& t : threads_) t.join();
    }

    template <class T>
    std::future<T> spawn(asio::awaitable<T> work) {
        return asio::co_spawn(io, std::move(work), asio::use_future);
    }

    // Runs the coroutine and waits for it; a hang fails after `deadline`.
    template <class T>
    T run(asio::awaitable<T> work, std::chrono::seconds deadline = std::chrono::seconds(20)) {
        auto future = spawn(std::move(work));
        if (future.wait_for(deadline) != std::future_status::ready)
            throw std::runtime_error("deadline passed");
        return future.get();
    }

    asio::io_context io;

  private:
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::vector<std::thread> threads_;
};

}  // namespace zelto::test
