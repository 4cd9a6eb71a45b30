#pragma once

// Runs one blocking call (a folder listing, a file read or write) on another
// executor and resumes the awaiting coroutine on its own executor with the
// result, or with the call's exception.
//
// The call is not cancellable: it is short and always runs to its end, so a
// cancel never leaves half a file behind. The awaiting coroutine sees its
// cancellation at its next cancellable wait.

#include <asio/bind_cancellation_slot.hpp>
#include <asio/co_spawn.hpp>
#include <asio/use_awaitable.hpp>
#include <type_traits>
#include <utility>

#include "async/Executor.h"

namespace zelto {

template <class F>
auto offload(Executor where, F work) -> Task<std::invoke_result_t<F&>> {
    using Result = std::invoke_result_t<F&>;
    auto token = asio::bind_cancellation_slot(asio::cancellation_slot(), asio::use_awaitable);
    auto run = [work = std::move(work)]() mutable -> Task<Result> { co_return work(); };
    auto spawned = asio::co_spawn(where, std::move(run), token);
    co_return co_await std::move(spawned);
}

}  // namespace zelto
