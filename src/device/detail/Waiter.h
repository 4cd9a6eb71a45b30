#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/associated_cancellation_slot.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/cancellation_type.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace zelto::detail {

// A one-shot rendezvous between a producer on any thread and one awaiting
// coroutine. The waiter exists before the event it waits for is provoked, so
// an answer that arrives before the coroutine suspends is kept, not lost.
// A cancellation emitted on the awaiting coroutine's slot (from its own
// executor) ends the wait with `cancelled`.
template <class T>
class Waiter : public std::enable_shared_from_this<Waiter<T>> {
  public:
    enum class Status { value, timeout, ended, cancelled };
    struct Outcome {
        Status status = Status::timeout;
        std::optional<T> value;
    };

    explicit Waiter(asio::any_io_executor executor) : timer_(executor) {}

    // Hands over a value; false when the waiter already has an outcome.
    bool deliver(T value) { return finish(Outcome{Status::value, std::move(value)}); }
    // The source is gone: the wait ends without a value.
    bool end() { return finish(Outcome{Status::ended, std::nullopt}); }
    bool done() const {
        std::lock_guard lock(mutex_);
        return outcome_.has_value();
    }

    // Waits for the outcome; a time-out of none waits without limit.
    asio::awaitable<Outcome> wait(std::optional<std::chrono::nanoseconds> timeout) {
        // Named before the co_await: GCC 12 mishandles capturing temporaries inside one.
        auto self = this->shared_from_this();
        auto initiation = [self, timeout](auto handler) { self->start(std::move(handler), timeout); };
        auto operation = asio::async_initiate<decltype(asio::use_awaitable), void(Outcome)>(
            std::move(initiation), asio::use_awaitable);
        Outcome outcome = co_await std::move(operation);
        co_return outcome;
    }

  private:
    struct PendingBase {
        virtual ~PendingBase() = default;
        virtual void complete(Outcome outcome) = 0;
    };
    template <class Handler>
    struct Pending : PendingBase {
        explicit Pending(Handler h) : handler(std::move(h)) {}
        void complete(Outcome outcome) override {
            auto executor = asio::get_associated_executor(handler);
            asio::post(executor,
                       [h = std::move(handler), o = std::move(outcome)]() mutable { h(std::move(o)); });
        }
        Handler handler;
    };

    template <class Handler>
    void start(Handler handler, std::optional<std::chrono::nanoseconds> timeout) {
        // Once the handler is handed over, the coroutine may resume on another
        // thread and let go of this waiter before this function has returned.
        auto keepAlive = this->shared_from_this();
        auto slot = asio::get_associated_cancellation_slot(handler);
        std::lock_guard lock(mutex_);
        if (outcome_) {
            Pending<Handler>(std::move(handler)).complete(std::move(*outcome_));
            return;
        }
        if (slot.is_connected()) {
            // The completion handler clears the slot when it runs; a cancellation
            // that comes after the outcome finds the waiter done.
            slot.assign([weak = this->weak_from_this()](asio::cancellation_type type) {
                if (type == asio::cancellation_type::none) return;
                if (auto self = weak.lock()) self->finish(Outcome{Status::cancelled, std::nullopt});
            });
        }
        pending_ = std::make_unique<Pending<Handler>>(std::move(handler));
        if (timeout) {
            timer_.expires_after(*timeout);
            timer_.async_wait([self = this->shared_from_this()](std::error_code ec) {
                if (!ec) self->finish(Outcome{Status::timeout, std::nullopt});
            });
        }
    }

    bool finish(Outcome outcome) {
        std::unique_ptr<PendingBase> pending;
        {
            std::lock_guard lock(mutex_);
            if (outcome_) return false;
            if (pending_) {
                pending = std::move(pending_);
                outcome_ = Outcome{outcome.status, std::nullopt};
                timer_.cancel();
            } else {
                outcome_ = std::move(outcome);
            }
        }
        if (pending) pending->complete(std::move(outcome));
        return true;
    }

    mutable std::mutex mutex_;
    asio::steady_timer timer_;
    std::optional<Outcome> outcome_;
    std::unique_ptr<PendingBase> pending_;
};

}  // namespace zelto::detail
