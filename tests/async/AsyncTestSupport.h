#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <future>
#include <optional>

#include "async/Executor.h"

namespace zelto::test {

// Runs `task` on `executor` and waits for it with a deadline, so that a hang
// fails the test instead of stalling the run.
template <class T>
T runWithDeadline(const Executor& executor, Task<T> task,
                  std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    if constexpr (std::is_void_v<T>) {
        asio::co_spawn(executor, std::move(task), [promise](std::exception_ptr error) {
            if (error)
                promise->set_exception(error);
            else
                promise->set_value();
        });
    } else {
        asio::co_spawn(executor, std::move(task), [promise](std::exception_ptr error, T value) {
            if (error)
                promise->set_exception(error);
            else
                promise->set_value(std::move(value));
        });
    }
    if (future.wait_for(deadline) != std::future_status::ready) {
        ADD_FAILURE() << "task did not end within the deadline";
        std::terminate();
    }
    return future.get();
}

}  // namespace zelto::test
