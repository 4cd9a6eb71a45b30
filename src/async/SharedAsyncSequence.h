#pragma once

// A stream that one producer feeds and many readers iterate at once.
//
// Threading: `yield`, `finish` and `fail` may be called from any thread (a
// server calls them on its strand); they never block on a reader and never run
// reader code inline. A reader calls `makeAsyncIterator()` and then
// `co_await it.next()` from a coroutine on any executor; the reader resumes on
// its own executor. The iterator is registered when `makeAsyncIterator()`
// returns, so every element yielded after that point reaches it.
//
// Buffers are bounded. Until the first reader ever registers, the stream keeps
// the newest `bufferLimit` elements, and the first reader receives them. After
// that, an element that finds no reader is dropped. Each reader's own buffer
// keeps the newest `readerLimit` elements it has not read yet.
//
// A reader that registers after the stream finished ends at once (with the
// stream's error, if it failed), instead of waiting forever. A stream whose
// last handle is dropped ends normally for its readers.
#include <asio/associated_cancellation_slot.hpp>
#include <asio/async_result.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "async/Executor.h"
#include "async/PendingHandler.h"

namespace zelto {

namespace detail {

// One reader's buffer and its parked `next()`.
template <class T>
class Subscriber {
  public:
    // The element and its ticket.
    using Delivery = std::pair<std::optional<T>, std::shared_ptr<void>>;
    using Completion = PendingHandler<std::exception_ptr, Delivery>;

    explicit Subscriber(std::size_t limit) : limit_(limit == 0 ? 1 : limit) {}

    // Producer side. `ticket` travels with the element and is released once
    // the reader has taken it and run up to its next suspension.
    void push(T value, std::shared_ptr<void> ticket) {
        std::unique_lock lock(mutex_);
        if (finished_) return;
        if (waiter_) {
            auto waiter = std::move(waiter_);
            bool holdTicket = waiterHoldsTicket_;
            lock.unlock();
            deliver(std::move(waiter), holdTicket, Delivery(std::move(value), std::move(ticket)));
            return;
        }
        if (buffer_.size() >= limit_) {
            buffer_.pop_front();
            ++dropped_;
        }
        buffer_.push_back(Entry{std::move(value), std::move(ticket)});
    }

    void finish(std::exception_ptr error) {
        std::unique_lock lock(mutex_);
        if (finished_) return;
        finished_ = true;
        error_ = error;
        if (waiter_) {
            auto waiter = std::move(waiter_);
            lock.unlock();
            waiter.complete(nullptr, error, Delivery());
        }
    }

    // With `holdTicket`, the reader's handler holds the element's ticket and
    // releases it once it returned, i.e. once the reader's coroutine reached
    // its next suspension; otherwise the ticket is handed to the reader.
    static void deliver(Completion completion, bool holdTicket, Delivery delivery) {
        if (holdTicket) {
            auto ticket = std::move(delivery.second);
            completion.complete(std::move(ticket), nullptr, std::move(delivery));
        } else {
            completion.complete(nullptr, nullptr, std::move(delivery));
        }
    }

    template <class Handler>
    void park(Handler&& handler, const std::shared_ptr<Subscriber>& self, bool holdTicket) {
        std::unique_lock lock(mutex_);
        if (!buffer_.empty()) {
            Entry entry = std::move(buffer_.front());
            buffer_.pop_front();
            lock.unlock();
            deliver(Completion(std::forward<Handler>(handler)), holdTicket,
                    Delivery(std::move(entry.value), std::move(entry.ticket)));
            return;
        }
        if (finished_) {
            auto error = error_;
            lock.unlock();
            Completion(std::forward<Handler>(handler)).complete(nullptr, error, Delivery());
            return;
        }
        auto slot = asio::get_associated_cancellation_slot(handler);
        std::uint64_t id = ++waiterSerial_;
        if (slot.is_connected()) {
            std::weak_ptr<Subscriber> weak = self;
            slot.assign([weak, id](asio::cancellation_type) {
                if (auto subscriber = weak.lock()) subscriber->cancelWaiter(id);
            });
        }
        waiter_ = Completion(std::forward<Handler>(handler));
        waiterId_ = id;
        waiterHoldsTicket_ = holdTicket;
    }

    // Takes a buffered element without waiting.
    bool tryPop(std::optional<T>& value, std::shared_ptr<void>& ticket) {
        std::lock_guard lock(mutex_);
        if (buffer_.empty()) return false;
        value.emplace(std::move(buffer_.front().value));
        ticket = std::move(buffer_.front().ticket);
        buffer_.pop_front();
        return true;
    }

    // The end state when nothing is buffered: nullopt while the stream runs.
    std::optional<std::exception_ptr> endIfDrained() {
        std::lock_guard lock(mutex_);
        if (!buffer_.empty() || !finished_) return std::nullopt;
        return error_;
    }

    std::uint64_t dropped() const {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

    // Hands over elements that arrived before anybody subscribed.
    void preload(std::deque<T>&& elements) {
        std::lock_guard lock(mutex_);
        while (elements.size() > limit_) elements.pop_front();
        for (auto& element : elements) buffer_.push_back(Entry{std::move(element), nullptr});
    }

  private:
    struct Entry {
        T value;
        std::shared_ptr<void> ticket;
    };

    void cancelWaiter(std::uint64_t id) {
        std::unique_lock lock(mutex_);
        if (!waiter_ || waiterId_ != id) return;
        auto waiter = std::move(waiter_);
        lock.unlock();
        waiter.complete(nullptr, std::make_exception_ptr(std::system_error(asio::error::operation_aborted)),
                        Delivery());
    }

    mutable std::mutex mutex_;
    std::deque<Entry> buffer_;
    std::size_t limit_;
    std::uint64_t dropped_ = 0;
    bool finished_ = false;
    std::exception_ptr error_;
    Completion waiter_;
    bool waiterHoldsTicket_ = false;
    std::uint64_t waiterId_ = 0;
    std::uint64_t waiterSerial_ = 0;
};

template <class T>
class SequenceCore {
  public:
    SequenceCore(std::size_t bufferLimit, std::size_t readerLimit)
        : bufferLimit_(bufferLimit == 0 ? 1 : bufferLimit), readerLimit_(readerLimit) {}
    ~SequenceCore() { end(nullptr); }

    void yield(T value, std::shared_ptr<void> ticket) {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        if (!everSubscribed_) {
            if (pending_.size() >= bufferLimit_) pending_.pop_front();
            pending_.push_back(std::move(value));
            return;
        }
        if (subscribers_.empty()) return;
        for (std::size_t i = 0; i + 1 < subscribers_.size(); ++i) subscribers_[i].second->push(value, ticket);
        subscribers_.back().second->push(std::move(value), std::move(ticket));
    }

    void end(std::exception_ptr error) {
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Subscriber<T>>>> finishing;
        {
            std::lock_guard lock(mutex_);
            if (finished_) return;
            finished_ = true;
            error_ = error;
            finishing.swap(subscribers_);
        }
        for (auto& entry : finishing) entry.second->finish(error);
    }

    std::pair<std::uint64_t, std::shared_ptr<Subscriber<T>>> subscribe() {
        auto subscriber = std::make_shared<Subscriber<T>>(readerLimit_);
        std::lock_guard lock(mutex_);
        std::uint64_t id = ++nextId_;
        if (!everSubscribed_) {
            everSubscribed_ = true;
            subscriber->preload(std::move(pending_));
            pending_.clear();
        }
        if (finished_)
            subscriber->finish(error_);
        else
            subscribers_.emplace_back(id, subscriber);
        return {id, subscriber};
    }

    void unsubscribe(std::uint64_t id) {
        std::shared_ptr<Subscriber<T>> removed;  // released outside the lock
        std::lock_guard lock(mutex_);
        for (auto it = subscribers_.begin(); it != subscribers_.end(); ++it) {
            if (it->first == id) {
                removed = std::move(it->second);
                subscribers_.erase(it);
                break;
            }
        }
    }

    bool finished() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }

    std::size_t readerCount() const {
        std::lock_guard lock(mutex_);
        return subscribers_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::size_t bufferLimit_;
    std::size_t readerLimit_;
    bool everSubscribed_ = false;
    bool finished_ = false;
    std::exception_ptr error_;
    std::deque<T> pending_;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Subscriber<T>>>> subscribers_;
    std::uint64_t nextId_ = 0;
};

}  // namespace detail

// One reader's position in a SharedAsyncSequence. Move-only; destroying it
// unsubscribes, and elements are no longer buffered for it.
template <class T>
class AsyncIterator {
  public:
    AsyncIterator(AsyncIterator&& other) noexcept
        : core_(std::move(other.core_)), subscriber_(std::move(other.subscriber_)), id_(other.id_) {}
    AsyncIterator& operator=(AsyncIterator&& other) noexcept {
        if (this != &other) {
            release();
            core_ = std::move(other.core_);
            subscriber_ = std::move(other.subscriber_);
            id_ = other.id_;
        }
        return *this;
    }
    AsyncIterator(const AsyncIterator&) = delete;
    AsyncIterator& operator=(const AsyncIterator&) = delete;
    ~AsyncIterator() { release(); }

    // The next element; nullopt once the stream finished; throws the stream's
    // error once it failed. Honors per-operation cancellation (the wait then
    // throws std::system_error with asio::error::operation_aborted).
    Task<std::optional<T>> next() {
        auto subscriber = subscriber_;
        Delivery delivery;
        if (subscriber->tryPop(delivery.first, delivery.second)) {
            if (delivery.second.use_count() == 0) co_return std::move(delivery.first);
            // A ticketed element is handed over through a posted handler, which
            // releases the ticket once this reader suspends again.
            auto handOver = [&delivery](auto handler) {
                detail::Subscriber<T>::deliver(Completion(std::move(handler)), true, std::move(delivery));
            };
            auto result = co_await asio::async_initiate<const asio::use_awaitable_t<Executor>,
                                                        void(std::exception_ptr, Delivery)>(
                std::move(handOver), asio::use_awaitable_t<Executor>{});
            co_return std::move(result.first);
        }
        auto result = co_await wait(subscriber, true);
        co_return std::move(result.first);
    }

    // Like next(), but hands the element's ticket (see SharedAsyncSequence::yield)
    // to the caller, who decides when to release it.
    Task<std::pair<std::optional<T>, std::shared_ptr<void>>> nextKeepingTicket() {
        auto subscriber = subscriber_;
        Delivery delivery;
        if (subscriber->tryPop(delivery.first, delivery.second)) co_return delivery;
        co_return co_await wait(subscriber, false);
    }

    // An element that is already buffered, without waiting.
    std::optional<T> tryNext() {
        std::optional<T> value;
        std::shared_ptr<void> ticket;
        subscriber_->tryPop(value, ticket);
        return value;
    }

    // Elements dropped from this reader's full buffer.
    std::uint64_t droppedCount() const { return subscriber_->dropped(); }

  private:
    template <class>
    friend class SharedAsyncSequence;
    using Delivery = typename detail::Subscriber<T>::Delivery;
    using Completion = typename detail::Subscriber<T>::Completion;

    static Task<Delivery> wait(std::shared_ptr<detail::Subscriber<T>> subscriber, bool holdTicket) {
        if (auto end = subscriber->endIfDrained()) {
            if (*end) std::rethrow_exception(*end);
            co_return Delivery();
        }
        // (GCC 12 mishandles a temporary capturing lambda inside a co_await.)
        auto park = [subscriber, holdTicket](auto handler) {
            subscriber->park(std::move(handler), subscriber, holdTicket);
        };
        co_return co_await asio::async_initiate<const asio::use_awaitable_t<Executor>,
                                                void(std::exception_ptr, Delivery)>(
            std::move(park), asio::use_awaitable_t<Executor>{});
    }

    AsyncIterator(std::shared_ptr<detail::SequenceCore<T>> core,
                  std::pair<std::uint64_t, std::shared_ptr<detail::Subscriber<T>>> registration)
        : core_(std::move(core)), subscriber_(std::move(registration.second)), id_(registration.first) {}

    void release() {
        if (auto core = core_.lock()) core->unsubscribe(id_);
        core_.reset();
    }

    // Weak: a reader does not keep a stream alive. When the producer's last
    // handle goes, the stream ends for its readers.
    std::weak_ptr<detail::SequenceCore<T>> core_;
    std::shared_ptr<detail::Subscriber<T>> subscriber_;
    std::uint64_t id_ = 0;
};

// A cheap, copyable handle; copies share one stream. The producer end
// (`yield`, `finish`, `fail`) and the reader end live on the same handle.
template <class T>
class SharedAsyncSequence {
  public:
    static constexpr std::size_t defaultLimit = 1024;

    explicit SharedAsyncSequence(std::size_t bufferLimit = defaultLimit,
                                 std::size_t readerLimit = defaultLimit)
        : core_(std::make_shared<detail::SequenceCore<T>>(bufferLimit, readerLimit)) {}

    AsyncIterator<T> makeAsyncIterator() const { return AsyncIterator<T>(core_, core_->subscribe()); }

    // `ticket`, when given, is held by every reader that receives this element
    // until that reader has taken it and run to its next suspension point.
    void yield(T value, std::shared_ptr<void> ticket = nullptr) const {
        core_->yield(std::move(value), std::move(ticket));
    }
    void finish() const { core_->end(nullptr); }
    void fail(std::exception_ptr error) const { core_->end(error); }

    bool isFinished() const { return core_->finished(); }
    // True when this handle is the last one and nobody reads.
    bool isAbandoned() const { return core_.use_count() == 1 && core_->readerCount() == 0; }
    std::size_t readerCount() const { return core_->readerCount(); }

    friend bool operator==(const SharedAsyncSequence& a, const SharedAsyncSequence& b) {
        return a.core_ == b.core_;
    }

  private:
    std::shared_ptr<detail::SequenceCore<T>> core_;
};

}  // namespace zelto
