#pragma once

// The diagnostic lines of the layers below the application, by category and
// level, through one process-wide sink.
//
// Threads: every function may be called from any thread at any time, also
// while another thread replaces the sink. A line goes wholly to the sink that
// was installed when it was logged, and that sink lives until the line is
// written, even when it is replaced meanwhile. A sink is called from every
// thread that logs, possibly at once.
//
// Errors: logging never throws. A sink must not throw either (its calls are
// noexcept).
//
// The default sink writes info and warning lines to standard output and
// critical lines to standard error, each as the bare message and flushed, and
// drops debug lines: the lines that scripts and tests read keep their text.
#include <cstdarg>
#include <memory>
#include <string_view>

namespace zelto {

enum class LogLevel { debug, info, warning, critical };

// One per layer.
enum class LogCategory { osc, device, preset, sync, async };

// "zelto.osc", "zelto.device", ...
const char* logCategoryName(LogCategory category) noexcept;

class LogSink {
  public:
    virtual ~LogSink() = default;
    // Asked before a line is formatted: a disabled line costs no formatting.
    virtual bool enabled(LogCategory category, LogLevel level) const noexcept = 0;
    // One line, without its line break.
    virtual void write(LogCategory category, LogLevel level, std::string_view message) noexcept = 0;
};

// Standard output and standard error as described above; with `debug`, debug
// lines go to standard output too.
std::shared_ptr<LogSink> makeStreamLogSink(bool debug = false);

// Installs `sink` for the whole process (null: the default sink) and returns
// the one it replaces.
std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink);

bool logEnabled(LogCategory category, LogLevel level) noexcept;
void logLine(LogCategory category, LogLevel level, std::string_view message) noexcept;
// printf formatting, done only when the line is enabled.
void logFormat(LogCategory category, LogLevel level, const char* format, ...) noexcept
    __attribute__((format(printf, 3, 4)));

}  // namespace zelto
