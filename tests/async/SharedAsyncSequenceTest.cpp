#include <gtest/gtest.h>

#include <asio/use_awaitable.hpp>
#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "async/AsyncTestSupport.h"
#include "async/SharedAsyncSequence.h"

namespace zelto {
namespace {

using test::runWithDeadline;

template <class T>
Task<std::vector<T>> collect(AsyncIterator<T> it, std::size_t count) {
    std::vector<T> out;
    while (out.size() < count) {
        auto next = it.next();
        auto value = co_await std::move(next);
        if (!value) break;
        out.push_back(*value);
    }
    co_return out;
}

template <class T>
Task<std::vector<T>> collectToEnd(AsyncIterator<T> it) {
    std::vector<T> out;
    while (true) {
        auto next = it.next();
        auto value = co_await std::move(next);
        if (!value) break;
        out.push_back(*value);
    }
    co_return out;
}

class SharedAsyncSequenceTest : public ::testing::Test {
  protected:
    IoPool pool{2};
};

TEST_F(SharedAsyncSequenceTest, FirstReaderGetsTheNewestEarlyElementsAndLaterReadersMissConsumedOnes) {
    SharedAsyncSequence<int> stream(/*earlyLimit=*/3);
    for (int i = 0; i < 5; ++i) stream.yield(i);  // nobody subscribed yet: newest 3 kept
    {
        auto first = stream.makeAsyncIterator();
        EXPECT_EQ(runWithDeadline(pool.executor(), collect(std::move(first), 3)),
                  (std::vector<int>{2, 3, 4}));
    }
    EXPECT_EQ(stream.droppedCount(), 2u);
    stream.yield(5);  // finds no reader: consumed and lost
    auto late = stream.makeAsyncIterator();
    stream.yield(6);
    stream.finish();
    EXPECT_EQ(runWithDeadline(pool.executor(), collectToEnd(std::move(late))), std::vector<int>{6});
}

TEST_F(SharedAsyncSequenceTest, StreamWithoutEarlyBufferKeepsNothingBeforeItsFirstReader) {
    SharedAsyncSequence<int> stream(/*earlyLimit=*/0);
    stream.yield(1);
    auto reader = stream.makeAsyncIterator();
    stream.yield(2);
    stream.finish();
    EXPECT_EQ(runWithDeadline(pool.executor(), collectToEnd(std::move(reader))), std::vector<int>{2});
    EXPECT_EQ(stream.droppedCount(), 0u);
}

TEST_F(SharedAsyncSequenceTest, ReaderBuffersAreBoundedLoggedAndCounted) {
    StreamLimits<std::string> limits;
    limits.unread = 4;
    limits.bytes = 10;
    limits.weigh = [](const std::string& s) { return s.size(); };
    limits.label = "words";
    SharedAsyncSequence<std::string> stream(limits);
    auto slow = stream.makeAsyncIterator();
    {
        auto gone = stream.makeAsyncIterator();
        EXPECT_EQ(stream.readerCount(), 2u);
    }
    EXPECT_EQ(stream.readerCount(), 1u);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 6; ++i) stream.yield(std::to_string(i));  // beyond 4 elements
    stream.yield("abcdefghi");                                    // beyond 10 bytes
    auto printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(slow.droppedCount(), 5u);
    EXPECT_EQ(stream.droppedCount(), 5u);
    EXPECT_EQ(printed, "words: buffer full at 3 elements, dropping the oldest (1 dropped so far)\n");
    stream.finish();
    EXPECT_EQ(runWithDeadline(pool.executor(), collectToEnd(std::move(slow))),
              (std::vector<std::string>{"5", "abcdefghi"}));
}

// Buffers of different streams that share a budget hold no more than it
// together; each gives back what it took when an element is read, dropped,
// or its reader goes.
TEST_F(SharedAsyncSequenceTest, BuffersSharingABudgetHoldNoMoreThanItTogether) {
    auto word = [](int i) { return std::string(10, static_cast<char>('a' + i)); };
    const std::size_t charge = detail::bufferedCharge<std::string>(10);
    auto budget = std::make_shared<MemoryBudget>(3 * charge);
    StreamLimits<std::string> limits;
    limits.weigh = [](const std::string& s) { return s.size(); };
    limits.budget = budget;
    limits.label = "first";
    SharedAsyncSequence<std::string> first(limits);
    limits.label = "second";
    SharedAsyncSequence<std::string> second(limits);
    auto a = first.makeAsyncIterator();
    auto b = std::optional(second.makeAsyncIterator());

    testing::internal::CaptureStdout();
    first.yield(word(0));
    first.yield(word(1));
    second.yield(word(2));
    EXPECT_EQ(budget->used(), 3 * charge);
    EXPECT_EQ(budget->refusedCount(), 0u);
    // Full: a buffer makes room by dropping its own oldest.
    second.yield(word(3));
    first.yield(word(4));
    EXPECT_EQ(budget->used(), 3 * charge);
    EXPECT_EQ(b->droppedCount(), 1u);
    EXPECT_EQ(a.droppedCount(), 1u);
    // An element the budget cannot hold at all goes too.
    second.yield(std::string(4 * charge, 'x'));
    EXPECT_EQ(b->droppedCount(), 3u);
    EXPECT_EQ(budget->used(), 2 * charge);
    EXPECT_EQ(budget->peak(), 3 * charge);
    auto printed = testing::internal::GetCapturedStdout();
    const std::string limit = std::to_string(3 * charge);
    EXPECT_EQ(printed, "second: memory budget of " + limit +
                           " bytes used up at 0 elements in this buffer, dropping (1 dropped so far)\n"
                           "first: memory budget of " +
                           limit +
                           " bytes used up at 1 elements in this buffer, dropping (1 dropped so far)\n");

    EXPECT_EQ(a.tryNext(), word(1));
    EXPECT_EQ(budget->used(), charge);
    b.reset();
    // Kept for a first reader that has not come yet: charged too, and given back with the stream.
    {
        StreamLimits<std::string> early = limits;
        early.early = 8;
        SharedAsyncSequence<std::string> waiting(early);
        waiting.yield(word(5));
        EXPECT_EQ(budget->used(), 2 * charge);
    }
    EXPECT_EQ(budget->used(), charge);  // word(4), still unread
    first.finish();
    EXPECT_EQ(runWithDeadline(pool.executor(), collectToEnd(std::move(a))),
              std::vector<std::string>{word(4)});
    EXPECT_EQ(budget->used(), 0u);
}

TEST_F(SharedAsyncSequenceTest, EndAndFailureReachWaitingAndLateReaders) {
    struct Case {
        const char* name;
        bool fails;
    };
    for (Case c : {Case{"finish", false}, Case{"fail", true}}) {
        SCOPED_TRACE(c.name);
        SharedAsyncSequence<int> stream;
        auto waiting = stream.makeAsyncIterator();
        auto result = std::async(std::launch::async, [&] {
            return runWithDeadline(pool.executor(), [](AsyncIterator<int> it) -> Task<std::string> {
                try {
                    auto next = it.next();
                    auto value = co_await std::move(next);
                    co_return value ? "value" : "end";
                } catch (const std::runtime_error& e) {
                    co_return e.what();
                }
            }(std::move(waiting)));
        });
        if (c.fails)
            stream.fail(std::make_exception_ptr(std::runtime_error("broken")));
        else
            stream.finish();
        EXPECT_EQ(result.get(), c.fails ? "broken" : "end");

        // A reader that arrives after the end does not wait forever.
        auto late = stream.makeAsyncIterator();
        if (c.fails)
            EXPECT_THROW(runWithDeadline(pool.executor(), late.next()), std::runtime_error);
        else
            EXPECT_EQ(runWithDeadline(pool.executor(), late.next()), std::nullopt);
    }
}

TEST_F(SharedAsyncSequenceTest, DroppingTheLastHandleEndsTheStreamForItsReaders) {
    std::optional<SharedAsyncSequence<int>> stream(std::in_place);
    auto reader = stream->makeAsyncIterator();
    stream->yield(1);
    auto result = std::async(std::launch::async, [&] {
        return runWithDeadline(pool.executor(), collectToEnd(std::move(reader)));
    });
    stream.reset();
    EXPECT_EQ(result.get(), std::vector<int>{1});
}

TEST_F(SharedAsyncSequenceTest, TicketIsHeldWhileTheReaderReacts) {
    for (bool onStrand : {true, false}) {
        for (bool buffered : {true, false}) {
            SCOPED_TRACE(std::string(onStrand ? "strand" : "pool") + (buffered ? ", buffered" : ", waiting"));
            SharedAsyncSequence<int> stream;
            auto it = stream.makeAsyncIterator();
            auto released = std::make_shared<std::atomic<bool>>(false);
            auto yield = [&] {
                stream.yield(1, std::shared_ptr<void>(nullptr, [released](void*) { *released = true; }));
            };
            if (buffered) yield();
            Executor executor = onStrand ? Executor(pool.makeStrand()) : pool.executor();
            auto reader = std::async(std::launch::async, [&] {
                return runWithDeadline(
                    executor,
                    [](AsyncIterator<int> it, std::shared_ptr<std::atomic<bool>> released) -> Task<bool> {
                        auto next = it.next();
                        co_await std::move(next);
                        co_return released->load();
                    }(std::move(it), released));
            });
            if (!buffered) yield();
            EXPECT_FALSE(reader.get());
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!*released && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
            EXPECT_TRUE(*released);
        }
    }
}

TEST_F(SharedAsyncSequenceTest, ConcurrentProducerAndReadersLoseNothing) {
    constexpr int count = 20000;
    SharedAsyncSequence<int> stream(1024, count);
    auto a = stream.makeAsyncIterator();
    auto b = stream.makeAsyncIterator();
    auto ra = std::async(std::launch::async,
                         [&] { return runWithDeadline(pool.executor(), collectToEnd(std::move(a))); });
    auto rb = std::async(std::launch::async,
                         [&] { return runWithDeadline(pool.executor(), collectToEnd(std::move(b))); });
    std::thread producer([&] {
        for (int i = 0; i < count; ++i) stream.yield(i);
        stream.finish();
    });
    producer.join();
    for (auto* result : {&ra, &rb}) {
        auto values = result->get();
        ASSERT_EQ(values.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) ASSERT_EQ(values[i], i);
    }
}

}  // namespace
}  // namespace zelto
