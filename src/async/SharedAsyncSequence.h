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
// Buffers are bounded (see StreamLimits). Until the first reader ever
// registers, the stream keeps the newest `early` elements (none when 0), and
// the first reader receives them. After that, an element that finds no reader
// is dropped. Each reader's own buffer keeps the newest elements it has not
// read yet, up to `unread` of them (and `bytes`, when elements are weighed).
// With a `budget`, every buffered element is also charged to it, so buffers
// of many streams and other queues share one bound on what they hold.
// Elements pushed out of a full buffer are counted, and the first time a
// buffer overflows it says so on standard output.
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
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "async/Executor.h"
#include "async/Log.h"
#include "async/MemoryBudget.h"
#include "async/PendingHandler.h"

namespace zelto {

// What a stream keeps for readers that are not there yet or fall behind.
template <class T>
struct StreamLimits {
    // Elements kept until the first reader ever registers; 0 keeps none.
    std::size_t early = 1024;
    // Elements one reader may leave unread; beyond them its oldest go.
    std::size_t unread = 1024;
    // With `weigh`, a buffer also holds at most this many bytes.
    std::size_t bytes = std::numeric_limits<std::size_t>::max();
    // The memory an element holds beyond its own bytes (its heap storage, the
    // buffers it keeps alive).
    std::function<std::size_t(const T&)> weigh;
    // When given, each buffered element is charged its weight plus the bytes of
    // its slot in the buffer. An element that finds the budget used up pushes
    // out this buffer's oldest ones first, and is dropped when that is not
    // enough (the rest is held by other buffers that share the budget).
    std::shared_ptr<MemoryBudget> budget;
    // Names the stream in the overflow line.
    std::string label = "stream";
};

namespace detail {

// Shared by a stream and its readers' buffers.
struct Overflow {
    explicit Overflow(std::string label) : label(std::move(label)) {}
    // A buffer pushed out its oldest element.
    void count(bool firstOfBuffer, std::size_t kept) {
        auto total = dropped.fetch_add(1) + 1;
        if (!firstOfBuffer) return;
        logFormat(LogCategory::async, LogLevel::warning,
                  "%s: buffer full at %zu elements, dropping the oldest (%llu dropped so far)", label.c_str(),
                  kept, static_cast<unsigned long long>(total));
    }
    // A buffer dropped an element because the shared budget was used up.
    void countOverBudget(bool firstOfBuffer, std::size_t kept, const MemoryBudget& budget) {
        auto total = dropped.fetch_add(1) + 1;
        if (!firstOfBuffer) return;
        logFormat(LogCategory::async, LogLevel::warning,
                  "%s: memory budget of %zu bytes used up at %zu elements in this buffer, dropping (%llu "
                  "dropped so far)",
                  label.c_str(), budget.limit(), kept, static_cast<unsigned long long>(total));
    }
    const std::string label;
    std::atomic<std::uint64_t> dropped{0};
};

// An element waiting in a buffer, with its weight and its ticket.
template <class T>
struct Buffered {
    T value;
    std::size_t weight;
    std::shared_ptr<void> ticket;
};

// What a buffered element costs a budget: what it holds and its slot.
template <class T>
constexpr std::size_t bufferedCharge(std::size_t weight) noexcept {
    return weight + sizeof(Buffered<T>);
}

// One reader's buffer and its parked `next()`.
template <class T>
class Subscriber {
  public:
    // The element and its ticket.
    using Delivery = std::pair<std::optional<T>, std::shared_ptr<void>>;
    using Completion = PendingHandler<std::exception_ptr, Delivery>;

    Subscriber(std::size_t limit, std::size_t byteLimit, std::shared_ptr<MemoryBudget> budget,
               std::shared_ptr<Overflow> overflow)
        : limit_(limit == 0 ? 1 : limit),
          byteLimit_(byteLimit),
          budget_(std::move(budget)),
          overflow_(std::move(overflow)) {}
    ~Subscriber() {
        if (budget_) budget_->release(bytes_ + buffer_.size() * sizeof(Entry));
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Producer side. `ticket` travels with the element and is released once
    // the reader has taken it and run up to its next suspension.
    void push(T value, std::size_t weight, std::shared_ptr<void> ticket) {
        std::unique_lock lock(mutex_);
        if (finished_) return;
        if (waiter_) {
            auto waiter = std::move(waiter_);
            bool holdTicket = waiterHoldsTicket_;
            lock.unlock();
            deliver(std::move(waiter), holdTicket, Delivery(std::move(value), std::move(ticket)));
            return;
        }
        while (!buffer_.empty() && (buffer_.size() >= limit_ || bytes_ + weight > byteLimit_)) {
            popFront();
            overflow_->count(dropped_++ == 0, buffer_.size());
        }
        if (budget_ && !budget_->tryCharge(bufferedCharge<T>(weight))) {
            do {
                if (buffer_.empty()) {
                    overflow_->countOverBudget(dropped_++ == 0, 0, *budget_);
                    return;
                }
                popFront();
                overflow_->countOverBudget(dropped_++ == 0, buffer_.size(), *budget_);
            } while (!budget_->tryCharge(bufferedCharge<T>(weight)));
        }
        bytes_ += weight;
        buffer_.push_back(Entry{std::move(value), weight, std::move(ticket)});
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
            Entry entry = takeFront();
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
        std::unique_lock lock(mutex_);
        if (buffer_.empty()) return false;
        Entry entry = takeFront();
        lock.unlock();
        value.emplace(std::move(entry.value));
        ticket = std::move(entry.ticket);
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

    // Hands over elements that arrived before anybody subscribed, with their
    // weights and what they were charged.
    void preload(std::deque<Buffered<T>>&& elements) {
        std::lock_guard lock(mutex_);
        for (auto& element : elements) {
            bytes_ += element.weight;
            buffer_.push_back(std::move(element));
        }
    }

  private:
    using Entry = Buffered<T>;

    // Under mutex_, on a buffer that is not empty.
    Entry takeFront() {
        Entry entry = std::move(buffer_.front());
        buffer_.pop_front();
        bytes_ -= entry.weight;
        if (budget_) budget_->release(bufferedCharge<T>(entry.weight));
        return entry;
    }
    void popFront() { (void)takeFront(); }

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
    std::size_t byteLimit_;
    std::shared_ptr<MemoryBudget> budget_;
    std::size_t bytes_ = 0;
    std::shared_ptr<Overflow> overflow_;
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
    explicit SequenceCore(StreamLimits<T> limits)
        : limits_(std::move(limits)), overflow_(std::make_shared<Overflow>(limits_.label)) {}
    ~SequenceCore() {
        end(nullptr);
        if (limits_.budget) limits_.budget->release(earlyBytes_ + early_.size() * sizeof(Buffered<T>));
    }

    void yield(T value, std::shared_ptr<void> ticket) {
        std::size_t weight = limits_.weigh ? limits_.weigh(value) : 0;
        yieldWeighed(std::move(value), weight, std::move(ticket));
    }

    void yieldWeighed(T value, std::size_t weight, std::shared_ptr<void> ticket) {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        if (!everSubscribed_) {
            keepEarly(std::move(value), weight);
            return;
        }
        if (subscribers_.empty()) return;
        for (std::size_t i = 0; i + 1 < subscribers_.size(); ++i)
            subscribers_[i].second->push(value, weight, ticket);
        subscribers_.back().second->push(std::move(value), weight, std::move(ticket));
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
        auto subscriber =
            std::make_shared<Subscriber<T>>(limits_.unread, limits_.bytes, limits_.budget, overflow_);
        std::lock_guard lock(mutex_);
        std::uint64_t id = ++nextId_;
        if (!everSubscribed_) {
            everSubscribed_ = true;
            subscriber->preload(std::move(early_));
            early_.clear();
            earlyBytes_ = 0;
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

    std::uint64_t droppedCount() const { return overflow_->dropped.load(); }
    const std::string& label() const { return overflow_->label; }

  private:
    // Under mutex_, before the first reader.
    void keepEarly(T value, std::size_t weight) {
        if (limits_.early == 0) return;
        while (!early_.empty() && (early_.size() >= limits_.early || earlyBytes_ + weight > limits_.bytes)) {
            dropEarly();
            overflow_->count(earlyDropped_++ == 0, early_.size());
        }
        if (limits_.budget && !limits_.budget->tryCharge(bufferedCharge<T>(weight))) {
            do {
                if (early_.empty()) {
                    overflow_->countOverBudget(earlyDropped_++ == 0, 0, *limits_.budget);
                    return;
                }
                dropEarly();
                overflow_->countOverBudget(earlyDropped_++ == 0, early_.size(), *limits_.budget);
            } while (!limits_.budget->tryCharge(bufferedCharge<T>(weight)));
        }
        earlyBytes_ += weight;
        early_.push_back(Buffered<T>{std::move(value), weight, nullptr});
    }
    void dropEarly() {
        earlyBytes_ -= early_.front().weight;
        if (limits_.budget) limits_.budget->release(bufferedCharge<T>(early_.front().weight));
        early_.pop_front();
    }

    mutable std::mutex mutex_;
    const StreamLimits<T> limits_;
    const std::shared_ptr<Overflow> overflow_;
    bool everSubscribed_ = false;
    bool finished_ = false;
    std::exception_ptr error_;
    std::deque<Buffered<T>> early_;
    std::size_t earlyBytes_ = 0;
    std::uint64_t earlyDropped_ = 0;
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
            auto operation = asio::async_initiate<const asio::use_awaitable_t<Executor>,
                                                  void(std::exception_ptr, Delivery)>(
                std::move(handOver), asio::use_awaitable_t<Executor>{});
            auto result = co_await std::move(operation);
            co_return std::move(result.first);
        }
        auto waiting = wait(subscriber, true);
        auto result = co_await std::move(waiting);
        co_return std::move(result.first);
    }

    // Like next(), but hands the element's ticket (see SharedAsyncSequence::yield)
    // to the caller, who decides when to release it.
    Task<std::pair<std::optional<T>, std::shared_ptr<void>>> nextKeepingTicket() {
        auto subscriber = subscriber_;
        Delivery delivery;
        if (subscriber->tryPop(delivery.first, delivery.second)) co_return delivery;
        auto waiting = wait(subscriber, false);
        auto result = co_await std::move(waiting);
        co_return result;
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
        auto park = [subscriber, holdTicket](auto handler) {
            subscriber->park(std::move(handler), subscriber, holdTicket);
        };
        auto operation =
            asio::async_initiate<const asio::use_awaitable_t<Executor>, void(std::exception_ptr, Delivery)>(
                std::move(park), asio::use_awaitable_t<Executor>{});
        auto delivery = co_await std::move(operation);
        co_return delivery;
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

    explicit SharedAsyncSequence(std::size_t earlyLimit = defaultLimit,
                                 std::size_t readerLimit = defaultLimit)
        : SharedAsyncSequence(limits(earlyLimit, readerLimit)) {}
    explicit SharedAsyncSequence(StreamLimits<T> limits)
        : core_(std::make_shared<detail::SequenceCore<T>>(std::move(limits))) {}

    AsyncIterator<T> makeAsyncIterator() const { return AsyncIterator<T>(core_, core_->subscribe()); }

    // `ticket`, when given, is held by every reader that receives this element
    // until that reader has taken it and run to its next suspension point.
    void yield(T value, std::shared_ptr<void> ticket = nullptr) const {
        core_->yield(std::move(value), std::move(ticket));
    }
    // The same with the element's weight given, for a producer that knows it:
    // the stream's `weigh` is not called.
    void yieldWeighed(T value, std::size_t weight, std::shared_ptr<void> ticket = nullptr) const {
        core_->yieldWeighed(std::move(value), weight, std::move(ticket));
    }
    void finish() const { core_->end(nullptr); }
    void fail(std::exception_ptr error) const { core_->end(error); }

    bool isFinished() const { return core_->finished(); }
    // True when this handle is the last one and nobody reads.
    bool isAbandoned() const { return core_.use_count() == 1 && core_->readerCount() == 0; }
    std::size_t readerCount() const { return core_->readerCount(); }
    // Elements pushed out of full buffers, the early one's and every reader's.
    std::uint64_t droppedCount() const { return core_->droppedCount(); }
    const std::string& label() const { return core_->label(); }

    friend bool operator==(const SharedAsyncSequence& a, const SharedAsyncSequence& b) {
        return a.core_ == b.core_;
    }

  private:
    static StreamLimits<T> limits(std::size_t early, std::size_t unread) {
        StreamLimits<T> limits;
        limits.early = early;
        limits.unread = unread;
        return limits;
    }

    std::shared_ptr<detail::SequenceCore<T>> core_;
};

}  // namespace zelto
