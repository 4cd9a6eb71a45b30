#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace zelto::test {

// A built program of this project: $ZELTO_BUILD_DIR/tools/<name>/<name>.
std::string builtProgram(const std::string& name);

struct ProcessResult {
    int exitCode = -1;  // -1 when killed or timed out
    std::string out;
    std::string err;
};

// Runs a program to its end (killed after `limit`), feeding `input` on stdin.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

// A zelto-sim child on one loopback address with its own preset folder.
// The constructor returns once the simulator reports that it listens.
class SimProcess {
  public:
    SimProcess(const std::string& address, const std::string& presetFolder,
               std::vector<std::string> extra = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& address() const { return address_; }
    // Freezes and thaws the process (it stops answering, nothing is lost).
    void pause();
    void resume();
    // Everything the simulator printed so far.
    std::string output() const;
    // Waits until the output holds `text` (`times` times); false after `limit`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10),
                       int times = 1) const;

  private:
    struct Drain;
    std::string address_;
    pid_t pid_ = -1;
    std::unique_ptr<Drain> drain_;
};

}  // namespace zelto::test
