// The logging sink of the Qt-free layers: routing by category and level, the
// default sink's streams, and replacing the sink while other threads log.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "async/Log.h"

namespace zelto {
namespace {

struct Recording : LogSink {
    bool debug = true;
    std::mutex mutex;
    std::vector<std::tuple<std::string, LogLevel, std::string>> lines;

    bool enabled(LogCategory, LogLevel level) const noexcept override {
        return debug || level != LogLevel::debug;
    }
    void write(LogCategory category, LogLevel level, std::string_view message) noexcept override {
        std::lock_guard lock(mutex);
        lines.emplace_back(logCategoryName(category), level, std::string(message));
    }
};

// Restores the default sink whatever a test installed.
class Log : public testing::Test {
  protected:
    void TearDown() override { setLogSink(nullptr); }
};

TEST_F(Log, LinesReachTheInstalledSinkWithTheirCategoryLevelAndFormattedText) {
    auto sink = std::make_shared<Recording>();
    setLogSink(sink);
    logLine(LogCategory::osc, LogLevel::warning, "osc line");
    logFormat(LogCategory::device, LogLevel::debug, "device %d", 7);
    logFormat(LogCategory::preset, LogLevel::critical, "%s", std::string(2000, 'x').c_str());
    logLine(LogCategory::sync, LogLevel::info, "sync line");
    logFormat(LogCategory::async, LogLevel::info, "async %s", "line");
    using Line = std::tuple<std::string, LogLevel, std::string>;
    std::vector<Line> expected = {
        {"zelto.osc", LogLevel::warning, "osc line"},
        {"zelto.device", LogLevel::debug, "device 7"},
        {"zelto.preset", LogLevel::critical, std::string(2000, 'x')},
        {"zelto.sync", LogLevel::info, "sync line"},
        {"zelto.async", LogLevel::info, "async line"},
    };
    EXPECT_EQ(sink->lines, expected);

    sink->debug = false;
    EXPECT_FALSE(logEnabled(LogCategory::device, LogLevel::debug));
    logFormat(LogCategory::device, LogLevel::debug, "not written");
    EXPECT_EQ(sink->lines.size(), expected.size()) << "a line the sink disabled was written";
    EXPECT_EQ(setLogSink(nullptr), sink) << "replacing returns the sink that was installed";
}

TEST_F(Log, TheDefaultSinkWritesBareLinesToStdoutOrStderrAndDropsDebug) {
    setLogSink(nullptr);
    EXPECT_FALSE(logEnabled(LogCategory::osc, LogLevel::debug));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    logLine(LogCategory::device, LogLevel::debug, "debug line");
    logLine(LogCategory::device, LogLevel::info, "Skipping eth9 no valid broadcast address provided");
    logFormat(LogCategory::osc, LogLevel::warning, "%s: %zu peers, ignoring new ones", "server",
              std::size_t(4));
    logLine(LogCategory::preset, LogLevel::critical, "built-in preset does not read");
    auto out = testing::internal::GetCapturedStdout();
    auto err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "Skipping eth9 no valid broadcast address provided\nserver: 4 peers, ignoring new ones\n");
    EXPECT_EQ(err, "built-in preset does not read\n");
}

// Every line goes to one sink, and a replaced sink lives on until the lines
// already given to it are written (a freed sink is an AddressSanitizer error).
TEST_F(Log, ReplacingTheSinkWhileThreadsLogLosesNoLine) {
    struct Counting : LogSink {
        std::shared_ptr<std::atomic<int>> total;
        bool enabled(LogCategory, LogLevel) const noexcept override { return true; }
        void write(LogCategory, LogLevel, std::string_view message) noexcept override {
            if (message == "line") ++*total;
        }
    };
    auto total = std::make_shared<std::atomic<int>>(0);
    auto make = [&] {
        auto sink = std::make_shared<Counting>();
        sink->total = total;
        return sink;
    };
    setLogSink(make());
    constexpr int kThreads = 3, kLines = 2000;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kLines; ++i) logFormat(LogCategory::async, LogLevel::info, "%s", "line");
            --running;
        });
    }
    int replaced = 0;
    while (running > 0 || replaced == 0) {
        setLogSink(make());
        ++replaced;
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(*total, kThreads * kLines);
    EXPECT_GT(replaced, 0);
}

}  // namespace
}  // namespace zelto
