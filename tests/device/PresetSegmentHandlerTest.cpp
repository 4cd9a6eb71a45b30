#include <gtest/gtest.h>

#include <numeric>

#include "device/IoRunner.h"
#include "device/PresetSegmentHandler.h"

namespace zelto {
namespace {

using Case = PresetSegmentHandlerError::Case;
constexpr std::uint64_t kShort = 100'000'000;

PresetSegment segment(std::string name, std::vector<std::uint8_t> bytes, int index, int total) {
    PresetSegment s;
    s.presetName = std::move(name);
    s.bytes = std::move(bytes);
    s.index = index;
    s.totalCount = total;
    return s;
}

std::vector<std::uint8_t> iota(std::size_t n, std::uint8_t start = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

class SegmentHandlerTest : public testing::Test {
  protected:
    test::IoRunner runner;
    PresetSegmentHandler handler{runner.io.get_executor()};

    RemoteZeltoPreset awaitNext(std::shared_ptr<PresetSegmentHandler::PresetWaiter> waiter) {
        return runner.run(PresetSegmentHandler::awaitPreset(std::move(waiter), 2'000'000'000));
    }
    Case failureOf(std::shared_ptr<PresetSegmentHandler::PresetWaiter> waiter) {
        try {
            runner.run(PresetSegmentHandler::awaitPreset(std::move(waiter), kShort));
        } catch (const PresetSegmentHandlerError& e) {
            return e.errorCase();
        }
        ADD_FAILURE() << "a preset arrived";
        return Case::incompleteReceive;
    }
};

TEST_F(SegmentHandlerTest, OutOfOrderSegmentsAssembleInIndexOrder) {
    auto waiter = handler.subscribe();
    handler.addSegment(segment("Show.ZELTOshow", {2}, 2, 3));
    handler.addSegment(segment("Show.ZELTOshow", {0}, 0, 3));
    EXPECT_FALSE(waiter->done());
    handler.addSegment(segment("Show.ZELTOshow", {1}, 1, 3));
    auto preset = awaitNext(waiter);
    EXPECT_EQ(preset.name, "Show");
    EXPECT_EQ(*preset.bytes, (std::vector<std::uint8_t>{0, 1, 2}));
    EXPECT_EQ(handler.pendingPresetCount(), 0u);
    EXPECT_EQ(handler.pendingByteCount(), 0u);
}

TEST_F(SegmentHandlerTest, FirstCopyOfARepeatedIndexWins) {
    auto waiter = handler.subscribe();
    handler.addSegment(segment("A", {1}, 0, 2));
    handler.addSegment(segment("A", {9}, 0, 2));
    handler.addSegment(segment("A", {2}, 1, 2));
    EXPECT_EQ(*awaitNext(waiter).bytes, (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(SegmentHandlerTest, InterleavedPresetsCompleteSeparately) {
    auto first = handler.subscribe();
    handler.addSegment(segment("A", {1}, 0, 2));
    handler.addSegment(segment("B", {7}, 0, 2));
    handler.addSegment(segment("B", {8}, 1, 2));
    auto b = awaitNext(first);
    EXPECT_EQ(b.name, "B");
    auto second = handler.subscribe();
    handler.addSegment(segment("A", {2}, 1, 2));
    auto a = awaitNext(second);
    EXPECT_EQ(a.name, "A");
    EXPECT_EQ(*a.bytes, (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(SegmentHandlerTest, NamedWaiterSkipsOtherPresets) {
    auto waiter = handler.subscribe("Wanted");
    handler.addSegment(segment("Other.ZELTOshow", {1}, 0, 1));
    EXPECT_FALSE(waiter->done());
    handler.addSegment(segment("Wanted.ZELTOshow", {2}, 0, 1));
    EXPECT_EQ(awaitNext(waiter).name, "Wanted");
}

TEST_F(SegmentHandlerTest, EveryWaiterGetsTheNextPreset) {
    auto a = handler.subscribe();
    auto b = handler.subscribe();
    handler.addSegment(segment("Show", iota(10), 0, 1));
    EXPECT_EQ(awaitNext(a).bytes, awaitNext(b).bytes);
}

TEST_F(SegmentHandlerTest, NameSuffixAndDateAreTakenApart) {
    auto waiter = handler.subscribe();
    handler.addSegment(segment("Show *[2021-05-01T10:00:00.000Z].ZELTOshow", {}, 0, 0));
    auto preset = awaitNext(waiter);
    EXPECT_EQ(preset.name, "Show");
    EXPECT_TRUE(preset.date);
    ASSERT_TRUE(preset.bytes);
    EXPECT_TRUE(preset.bytes->empty());
}

TEST_F(SegmentHandlerTest, NamedWaiterGetsItsPresetWithOrWithoutTheMixersDate) {
    const std::string date = "2021-05-01T10:00:00.000Z";
    const std::string datedName = "Show *[2020-01-01T00:00:00.000Z]";
    struct Case {
        std::string requested, sent;
        bool dated;
    };
    const Case cases[] = {
        {datedName, datedName + " *[" + date + "].ZELTOshow", true},
        {datedName, datedName + ".ZELTOshow", false},
        {"Show", "Show *[" + date + "].ZELTOshow", true},
        {"Old.ZELTOshow copy", "Old.ZELTOshow copy.ZELTOshow", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        auto waiter = handler.subscribe(c.requested);
        handler.addSegment(segment(c.sent, {1}, 0, 1));
        auto preset = awaitNext(waiter);
        EXPECT_EQ(preset.name, c.requested);
        EXPECT_EQ(preset.date, c.dated ? parseIsoDate(date) : std::nullopt);
    }
}

TEST_F(SegmentHandlerTest, MissingSegmentEndsInTimeout) {
    handler.addSegment(segment("Show", {0}, 0, 2));
    EXPECT_EQ(failureOf(handler.subscribe()), Case::timeout);
    // A late segment still completes it: nothing was thrown away.
    auto waiter = handler.subscribe();
    handler.addSegment(segment("Show", {1}, 1, 2));
    EXPECT_EQ(*awaitNext(waiter).bytes, (std::vector<std::uint8_t>{0, 1}));
}

TEST_F(SegmentHandlerTest, CloseEndsWaitersWithIncompleteReceive) {
    auto waiter = handler.subscribe();
    handler.close();
    EXPECT_EQ(failureOf(waiter), Case::incompleteReceive);
    EXPECT_EQ(failureOf(handler.subscribe()), Case::incompleteReceive);
}

TEST_F(SegmentHandlerTest, PresetCompletedBeforeAnyoneWaitsIsNotReplayed) {
    handler.addSegment(segment("Early", {1}, 0, 1));
    EXPECT_EQ(failureOf(handler.subscribe()), Case::timeout);
}

// Bogus input must not make memory grow without bound.
TEST(SegmentHandlerBounds, RejectsImpossibleTotals) {
    test::IoRunner runner;
    PresetSegmentHandler handler(runner.io.get_executor());
    for (int total : {-1, INT32_MIN, 65537, INT32_MAX}) {
        handler.addSegment(segment("Bad" + std::to_string(total), {1}, 0, total));
    }
    EXPECT_EQ(handler.pendingPresetCount(), 0u);
    handler.addSegment(segment("Big", {1}, 0, 65536));
    EXPECT_EQ(handler.pendingPresetCount(), 1u);
}

TEST(SegmentHandlerBounds, IgnoresIndicesOutsideTheCount) {
    test::IoRunner runner;
    PresetSegmentHandler handler(runner.io.get_executor());
    for (int index : {-1, 3, 1000, INT32_MAX}) handler.addSegment(segment("A", iota(100), index, 3));
    EXPECT_EQ(handler.pendingByteCount(), 0u);
}

TEST(SegmentHandlerBounds, CapsPendingPresetsDroppingTheOldest) {
    test::IoRunner runner;
    PresetSegmentHandler::Limits limits;
    limits.maxPendingPresets = 3;
    PresetSegmentHandler handler(runner.io.get_executor(), limits);
    for (int i = 0; i < 100; ++i) handler.addSegment(segment("P" + std::to_string(i), {1}, 0, 2));
    EXPECT_EQ(handler.pendingPresetCount(), 3u);
    auto waiter = handler.subscribe();
    handler.addSegment(segment("P99", {2}, 1, 2));  // the newest survived
    EXPECT_EQ(runner.run(PresetSegmentHandler::awaitPreset(waiter, 2'000'000'000)).name, "P99");
}

TEST(SegmentHandlerBounds, CapsPendingBytes) {
    test::IoRunner runner;
    PresetSegmentHandler::Limits limits;
    limits.maxPendingBytes = 10'000;
    PresetSegmentHandler handler(runner.io.get_executor(), limits);
    for (int i = 0; i < 1000; ++i) handler.addSegment(segment("Huge", iota(1000), i, 60000));
    EXPECT_LE(handler.pendingByteCount(), limits.maxPendingBytes);
}

TEST(SegmentHandlerBounds, DropsStalePresets) {
    test::IoRunner runner;
    PresetSegmentHandler::Limits limits;
    limits.staleAfter = std::chrono::seconds(60);
    PresetSegmentHandler handler(runner.io.get_executor(), limits);
    auto old = segment("Old", {1}, 0, 2);
    old.received -= std::chrono::seconds(61);
    handler.addSegment(old);
    handler.addSegment(segment("New", {1}, 0, 2));
    EXPECT_EQ(handler.pendingPresetCount(), 1u);
    EXPECT_EQ(handler.pendingByteCount(), 1u);
}

}  // namespace
}  // namespace zelto
