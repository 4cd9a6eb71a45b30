#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelto::test {

// A built program of this project: $ZELTO_BUILD_DIR/tools/<name>/<name> when that variable is set;
// else the path compiled in by linking zelto_built_programs, so it works from any working folder;
// else tools/<name>/<name> below the working folder.
std::string builtProgram(const std::string& name);

struct ProcessResult {
    int exitCode = -1;  // -1 when killed or timed out
    std::string out;
    std::string err;
};

// Runs a program to its end (killed after `limit`), feeding `input` on stdin.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

// Faults zelto-sim produces on demand, as its arguments:
//     SimProcess sim("127.0.0.2", SimFaults{.dropPresets = 1}.arguments());
struct SimFaults {
    int ignoreListRequests = 0;
    int ignorePresetRequests = 0;
    // Counted from the first session; without offlineFor the mixer stays off.
    std::optional<std::chrono::duration<double>> offlineAfter{}, offlineFor{};
    std::chrono::milliseconds listDelay{0};
    int dropPresets = 0;
    int corruptPresets = 0;

    std::vector<std::string> arguments() const;
};

// A zelto-sim child on one address. Its output (both streams) is read for its
// whole life, so tests can wait for its log lines; the constructor returns
// once it listens. The simulator refuses every message that is off the
// protocol with a "protocol error" line; each such line that the test did not
// take fails the test when the simulator is destroyed.
class SimProcess {
  public:
    // With a temporary preset folder of its own, removed at destruction.
    explicit SimProcess(const std::string& address, std::vector<std::string> extra = {});
    // With the caller's preset folder.
    SimProcess(const std::string& address, const std::string& presetFolder, std::vector<std::string> extra);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& address() const { return address_; }
    const std::filesystem::path& presets() const { return presets_; }
    void writePreset(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

    // Freezes and thaws the process (it stops answering, nothing is lost).
    void pause();
    void resume();

    // True once `count` lines holding `text` were printed; false after `limit`.
    bool waitForCount(const std::string& text, int count,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool waitForLine(const std::string& text,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        return waitForCount(text, 1, limit);
    }
    int countLines(const std::string& text) const;
    std::vector<std::string> lines() const;

    // The protocol error lines logged since the last call: a test that sends
    // junk on purpose takes them, so that they do not fail it.
    std::vector<std::string> takeProtocolErrors();

  private:
    struct Drain;
    void start(std::vector<std::string> extra);

    std::string address_;
    std::filesystem::path presets_;
    bool ownsPresets_ = false;
    pid_t pid_ = -1;
    std::unique_ptr<Drain> drain_;
    std::size_t protocolErrorsTaken_ = 0;
};

}  // namespace zelto::test
