// The run coordinator without a network: how runs end, and one at a time.
#include <gtest/gtest.h>

#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "app/AppTestSupport.h"
#include "app/RunCoordinator.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

class Runs : public ::testing::Test {
  protected:
    IoPool pool{1};
    MainThreadContext mainThread;
    test::FakeUi ui;
    RunCoordinator runs{mainThread, ui};

    std::vector<std::pair<std::string, bool>> lines() {
        std::vector<std::pair<std::string, bool>> result;
        for (const auto& line : runs.statusLog().lines()) result.emplace_back(line.text, line.isError);
        return result;
    }
    bool ends() {
        return waitUntil([&] { return !runs.active() && runs.statusLog().isFinished(); });
    }
    // A body that logs, then waits on the pool until it is cancelled.
    RunCoordinator::Body waitingBody() {
        return [this]() -> Task<void> {
            runs.statusLog().append("working");
            asio::steady_timer timer(pool.context(), std::chrono::hours(1));
            co_await timer.async_wait(asio::use_awaitable);
        };
    }
    void TearDown() override { EXPECT_TRUE(mainThread.runUntilIdle(5000ms)); }
};

TEST_F(Runs, ABodyThatReturnsSucceedsAndOneThatThrowsFailsInRed) {
    ASSERT_TRUE(runs.start([this]() -> Task<void> {
        runs.statusLog().append("step");
        co_return;
    }));
    ASSERT_TRUE(ends());
    EXPECT_EQ(runs.lastOutcome(), RunCoordinator::Outcome::succeeded);
    EXPECT_EQ(lines(), (std::vector<std::pair<std::string, bool>>{{"step", false}}));

    ASSERT_TRUE(runs.start([]() -> Task<void> {
        throw RunIncomplete("2 of 3 presets could not be copied");
        co_return;
    }));
    ASSERT_TRUE(ends());
    EXPECT_EQ(runs.lastOutcome(), RunCoordinator::Outcome::failed);
    EXPECT_EQ(lines(),
              (std::vector<std::pair<std::string, bool>>{{"failed! 2 of 3 presets could not be copied", true}}));
    EXPECT_EQ(ui.sheets, 2);
}

TEST_F(Runs, CancelEndsAsCancelledNotAsAFailureAndRunsTheReloadAfterwards) {
    bool reloaded = false;
    ASSERT_TRUE(runs.start(waitingBody(), [&]() -> Task<void> {
        // The reload itself is not cancelled: it runs after the cancel.
        asio::steady_timer timer(pool.context(), 20ms);
        co_await timer.async_wait(asio::use_awaitable);
        reloaded = true;
    }));
    ASSERT_TRUE(waitUntil([&] { return !lines().empty(); }));
    EXPECT_TRUE(runs.statusLog().canCancel());
    runs.statusLog().cancel();  // the status sheet's Cancel
    ASSERT_TRUE(ends());
    EXPECT_TRUE(reloaded);
    EXPECT_EQ(runs.lastOutcome(), RunCoordinator::Outcome::cancelled);
    EXPECT_EQ(lines(), (std::vector<std::pair<std::string, bool>>{{"working", false}, {"cancelled", false}}));
    EXPECT_FALSE(runs.statusLog().canCancel());
}

TEST_F(Runs, OneRunAtATimeAndNoneAfterShutDown) {
    // A delete's hold keeps runs out, and a run keeps holds out.
    ASSERT_TRUE(runs.hold());
    EXPECT_TRUE(runs.busy());
    EXPECT_FALSE(runs.start(waitingBody())) << "a run while a delete is going on";
    runs.release();
    EXPECT_FALSE(runs.busy());
    ASSERT_TRUE(runs.start(waitingBody()));
    EXPECT_FALSE(runs.hold()) << "a delete while a run is going on";
    EXPECT_FALSE(runs.start(waitingBody())) << "a second run while one is going on";
    runs.cancel();
    ASSERT_TRUE(ends());
    EXPECT_TRUE(runs.start(waitingBody())) << "the next run once the first ended";
    runs.shutDown();
    ASSERT_TRUE(ends());
    EXPECT_FALSE(runs.start(waitingBody()));
}

}  // namespace
}  // namespace zelto
