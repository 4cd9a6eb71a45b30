#include "async/Log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace zelto {

namespace {

class StreamLogSink final : public LogSink {
  public:
    explicit StreamLogSink(bool debug) : debug_(debug) {}

    bool enabled(LogCategory, LogLevel level) const noexcept override {
        return debug_ || level != LogLevel::debug;
    }
    void write(LogCategory, LogLevel level, std::string_view message) noexcept override {
        std::FILE* stream = level == LogLevel::critical ? stderr : stdout;
        std::fprintf(stream, "%.*s\n", static_cast<int>(message.size()), message.data());
        std::fflush(stream);
    }

  private:
    const bool debug_;
};

// Never destroyed: threads of the pool may still log while the process exits.
struct Installed {
    std::mutex mutex;
    std::shared_ptr<LogSink> sink = makeStreamLogSink();
};

Installed& installed() {
    static auto* state = new Installed;
    return *state;
}

std::shared_ptr<LogSink> currentSink() noexcept {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    return state.sink;
}

}  // namespace

const char* logCategoryName(LogCategory category) noexcept {
    switch (category) {
        case LogCategory::osc:
            return "zelto.osc";
        case LogCategory::device:
            return "zelto.device";
        case LogCategory::preset:
            return "zelto.preset";
        case LogCategory::sync:
            return "zelto.sync";
        case LogCategory::async:
            return "zelto.async";
    }
    return "zelto";
}

std::shared_ptr<LogSink> makeStreamLogSink(bool debug) {
    return std::make_shared<StreamLogSink>(debug);
}

std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink) {
    if (!sink) sink = makeStreamLogSink();
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    state.sink.swap(sink);
    return sink;
}

bool logEnabled(LogCategory category, LogLevel level) noexcept {
    return currentSink()->enabled(category, level);
}

void logLine(LogCategory category, LogLevel level, std::string_view message) noexcept {
    auto sink = currentSink();
    if (sink->enabled(category, level)) sink->write(category, level, message);
}

void logFormat(LogCategory category, LogLevel level, const char* format, ...) noexcept {
    auto sink = currentSink();
    if (!sink->enabled(category, level)) return;
    char small[512];
    std::va_list args;
    va_start(args, format);
    int size = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (size < 0) return;
    if (static_cast<std::size_t>(size) < sizeof small) {
        sink->write(category, level, {small, static_cast<std::size_t>(size)});
        return;
    }
    std::string large(static_cast<std::size_t>(size), '\0');
    va_start(args, format);
    std::vsnprintf(large.data(), large.size() + 1, format, args);
    va_end(args);
    sink->write(category, level, large);
}

}  // namespace zelto
