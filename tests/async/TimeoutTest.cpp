#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <future>
#include <stdexcept>

#include "async/AsyncTestSupport.h"
#include "async/SharedAsyncSequence.h"
#include "async/Timeout.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::runWithDeadline;

struct Ended : std::exception {};
struct TimedOut : std::exception {};

Task<std::optional<int>> firstOf(AsyncIterator<int> it) {
    auto next = it.next();
    auto value = co_await std::move(next);
    co_return value;
}

Task<std::string> outcomeOf(Task<int> wait) {
    try {
        int value = co_await std::move(wait);
        co_return std::to_string(value);
    } catch (const Ended&) {
        co_return "ended";
    } catch (const TimedOut&) {
        co_return "timedOut";
    }
}

class TimeoutTest : public ::testing::Test {
  public:
    Task<int> wait(std::optional<std::uint64_t> timeout, Task<std::optional<int>> work) {
        return withCheckedThrowingContinuation<int>("wait(timeout:)", timeout, Ended{}, TimedOut{},
                                                    std::move(work), pool.executor());
    }
    IoPool pool{2};
};

TEST_F(TimeoutTest, MapsTheThreeOutcomes) {
    enum class Act { yield, finish, fail, nothing };
    struct Case {
        const char* name;
        Act act;
        std::optional<std::uint64_t> timeout;
        std::string expected;
    };
    const Case cases[] = {
        {"value before the time-out", Act::yield, 5'000'000'000, "7"},
        {"stream ended", Act::finish, 5'000'000'000, "ended"},
        {"work failed: its error is replaced", Act::fail, 5'000'000'000, "timedOut"},
        {"time-out passed", Act::nothing, 20'000'000, "timedOut"},
        {"no time-out waits for the end", Act::finish, std::nullopt, "ended"},
        {"zero time-out", Act::nothing, 0, "timedOut"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedAsyncSequence<int> stream;
        auto result = std::async(std::launch::async, [&] {
            return runWithDeadline(pool.executor(),
                                   outcomeOf(wait(c.timeout, firstOf(stream.makeAsyncIterator()))));
        });
        switch (c.act) {
            case Act::yield:
                while (stream.readerCount() == 0) std::this_thread::yield();
                stream.yield(7);
                break;
            case Act::finish:
                stream.finish();
                break;
            case Act::fail:
                stream.fail(std::make_exception_ptr(std::runtime_error("x")));
                break;
            case Act::nothing:
                break;
        }
        EXPECT_EQ(result.get(), c.expected);
        stream.finish();
    }
}

TEST_F(TimeoutTest, TimedOutWorkIsCancelledAndUnsubscribed) {
    SharedAsyncSequence<int> stream;
    auto start = std::chrono::steady_clock::now();
    auto outcome =
        runWithDeadline(pool.executor(), outcomeOf(wait(50'000'000, firstOf(stream.makeAsyncIterator()))));
    EXPECT_EQ(outcome, "timedOut");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    // The cancelled work dropped its reader once it ended.
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (stream.readerCount() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(stream.readerCount(), 0u);
    // A cancelled wait leaves the stream usable for the next one.
    auto next = std::async(std::launch::async, [&] {
        return runWithDeadline(pool.executor(),
                               outcomeOf(wait(5'000'000'000, firstOf(stream.makeAsyncIterator()))));
    });
    while (stream.readerCount() == 0) std::this_thread::yield();
    stream.yield(9);
    EXPECT_EQ(next.get(), "9");
}

TEST_F(TimeoutTest, CallersCancellationEndsTheWaitAndTheWork) {
    auto strand = pool.makeStrand();
    SharedAsyncSequence<int> stream;
    asio::cancellation_signal signal;
    std::promise<std::string> done;
    auto waiting = [](TimeoutTest* self, SharedAsyncSequence<int> stream) -> Task<std::string> {
        try {
            auto wait = self->wait(30'000'000'000, firstOf(stream.makeAsyncIterator()));
            co_await std::move(wait);
        } catch (const ThrowingContinuationError& e) {
            co_return e.what();
        }
        co_return "no error";
    };
    auto task = waiting(this, stream);
    asio::co_spawn(strand, std::move(task),
                   asio::bind_cancellation_slot(signal.slot(), [&done](std::exception_ptr, std::string outcome) {
                       done.set_value(outcome);
                   }));
    while (stream.readerCount() == 0) std::this_thread::yield();
    asio::post(strand, [&signal] { signal.emit(asio::cancellation_type::terminal); });
    auto outcome = done.get_future();
    ASSERT_EQ(outcome.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(outcome.get(), "canceled");
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (stream.readerCount() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(stream.readerCount(), 0u) << "the work was cancelled too";
}

TEST_F(TimeoutTest, CallerResumesOnItsOwnExecutor) {
    auto strand = pool.makeStrand();
    SharedAsyncSequence<int> stream;
    stream.yield(1);
    bool onStrand = runWithDeadline(
        strand, [](TimeoutTest* self, SharedAsyncSequence<int> stream, Strand strand) -> Task<bool> {
            auto first = firstOf(stream.makeAsyncIterator());
            auto wait = self->wait(1'000'000'000, std::move(first));
            co_await std::move(wait);
            co_return strand.running_in_this_thread();
        }(this, stream, strand));
    EXPECT_TRUE(onStrand);
}

}  // namespace
}  // namespace zelto
