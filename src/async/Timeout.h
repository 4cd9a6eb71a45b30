#pragma once

// The time-out wrapper that every wait goes through.
//
// `withCheckedThrowingContinuation` starts `work` as an independent task on a
// strand of `workExecutor` (cancelling the caller does not cancel it), races it
// against a steady_timer when a time-out is given, and resumes the caller on
// the caller's own executor with one of three outcomes:
//   * the work returned a value        -> that value;
//   * the work returned nullopt        -> throws `endedError` (its stream ended);
//   * the work threw, or the timer won -> throws `timeoutError` (the work's own
//                                         error is replaced).
// When the timer wins, the work is cancelled (terminal cancellation reaches the
// operation it awaits, e.g. AsyncIterator::next) and its subscription goes away.
// A cancellation emitted on the caller's own slot (from the caller's executor)
// ends the wait at once with ThrowingContinuationError::canceled and cancels
// the work the same way.
// Time-outs are nanoseconds; nullopt waits without limit.
#include <algorithm>
#include <asio/associated_cancellation_slot.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "async/Executor.h"
#include "async/PendingHandler.h"

namespace zelto {

// The general-purpose pair of errors for callers of the time-out wrapper.
class ThrowingContinuationError : public std::exception {
  public:
    enum class Case { canceled, timeout };

    explicit ThrowingContinuationError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override;

  private:
    Case case_;
};

namespace detail {

// Longer waits are clamped so that the timer's deadline cannot overflow.
inline constexpr std::uint64_t maxTimeoutNanoseconds = 100ull * 365 * 24 * 3600 * 1'000'000'000ull;

template <class T>
struct RaceOutcome {
    enum class Kind { value, ended, failed, canceled } kind;
    std::optional<T> value;
};

template <class T>
class Race : public std::enable_shared_from_this<Race<T>> {
  public:
    using Caller = PendingHandler<RaceOutcome<T>>;

    Race(Strand strand, Caller caller) : strand_(strand), timer_(strand), caller_(std::move(caller)) {}

    const Strand& strand() const noexcept { return strand_; }

    // Runs on the strand.
    void start(Task<std::optional<T>> work, std::optional<std::uint64_t> timeout) {
        auto self = this->shared_from_this();
        asio::co_spawn(strand_, std::move(work),
                       asio::bind_cancellation_slot(
                           cancelWork_.slot(), [self](std::exception_ptr error, std::optional<T> result) {
                               self->settle(error, std::move(result));
                           }));
        if (timeout && !settled_) {
            auto nanoseconds = std::min(*timeout, maxTimeoutNanoseconds);
            timer_.expires_after(std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds)));
            timer_.async_wait([self](std::error_code error) {
                if (error || self->settled_) return;
                self->cancelWork_.emit(asio::cancellation_type::terminal);
            });
        }
    }

    // Runs on the strand.
    void cancelByCaller() {
        if (settled_) return;
        settled_ = true;
        timer_.cancel();
        cancelWork_.emit(asio::cancellation_type::terminal);
        caller_.complete(nullptr, RaceOutcome<T>{RaceOutcome<T>::Kind::canceled, std::nullopt});
    }

  private:
    void settle(std::exception_ptr error, std::optional<T> result) {
        if (settled_) return;
        settled_ = true;
        timer_.cancel();
        RaceOutcome<T> outcome{RaceOutcome<T>::Kind::value, std::move(result)};
        if (error)
            outcome = {RaceOutcome<T>::Kind::failed, std::nullopt};
        else if (!outcome.value)
            outcome.kind = RaceOutcome<T>::Kind::ended;
        caller_.complete(nullptr, std::move(outcome));
    }

    Strand strand_;
    asio::steady_timer timer_;
    asio::cancellation_signal cancelWork_;
    bool settled_ = false;
    Caller caller_;
};

}  // namespace detail

template <class T, class EndedError, class TimeoutError>
Task<T> withCheckedThrowingContinuation([[maybe_unused]] std::string_view functionName,
                                        std::optional<std::uint64_t> timeout, EndedError endedError,
                                        TimeoutError timeoutError, Task<std::optional<T>> work,
                                        Executor workExecutor) {
    auto start = [workExecutor, timeout](auto handler, Task<std::optional<T>> work) {
        auto slot = asio::get_associated_cancellation_slot(handler);
        auto race = std::make_shared<detail::Race<T>>(makeStrand(workExecutor),
                                                      typename detail::Race<T>::Caller(std::move(handler)));
        auto strand = race->strand();
        if (slot.is_connected()) {
            slot.assign([weak = std::weak_ptr<detail::Race<T>>(race), strand](asio::cancellation_type type) {
                if (type == asio::cancellation_type::none) return;
                asio::post(strand, [weak] {
                    if (auto race = weak.lock()) race->cancelByCaller();
                });
            });
        }
        asio::dispatch(strand, [race, timeout, work = std::move(work)]() mutable {
            race->start(std::move(work), timeout);
        });
    };
    auto operation =
        asio::async_initiate<const asio::use_awaitable_t<Executor>, void(detail::RaceOutcome<T>)>(
            std::move(start), asio::use_awaitable_t<Executor>{}, std::move(work));
    auto outcome = co_await std::move(operation);
    switch (outcome.kind) {
        case detail::RaceOutcome<T>::Kind::value:
            co_return std::move(*outcome.value);
        case detail::RaceOutcome<T>::Kind::ended:
            throw endedError;
        case detail::RaceOutcome<T>::Kind::canceled:
            throw ThrowingContinuationError(ThrowingContinuationError::Case::canceled);
        case detail::RaceOutcome<T>::Kind::failed:
        default:
            throw timeoutError;
    }
}

// The same, with the work on a strand of the caller's own executor.
template <class T, class EndedError, class TimeoutError>
Task<T> withCheckedThrowingContinuation(std::string_view functionName, std::optional<std::uint64_t> timeout,
                                        EndedError endedError, TimeoutError timeoutError,
                                        Task<std::optional<T>> work) {
    auto executor = co_await asio::this_coro::executor;
    auto wait = withCheckedThrowingContinuation<T>(functionName, timeout, std::move(endedError),
                                                   std::move(timeoutError), std::move(work), executor);
    co_return co_await std::move(wait);
}

}  // namespace zelto
