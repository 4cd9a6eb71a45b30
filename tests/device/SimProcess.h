#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelto::test {

// A zelto-sim child process with its own temporary preset folder. Its
// standard output is read continuously, so tests can wait for its log lines.
class SimProcess {
  public:
    // Starts the simulator on `address` with extra arguments; waits until it listens.
    explicit SimProcess(const std::string& address, std::vector<std::string> extraArguments = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::filesystem::path& presets() const { return presets_; }
    const std::string& address() const { return address_; }

    // True once a line containing `text` was printed (waits up to `deadline`).
    bool waitForLine(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // True once `count` lines containing `text` were printed.
    bool waitForCount(const std::string& text, int count,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // How many lines printed so far contain `text`.
    int countLines(const std::string& text);
    std::vector<std::string> lines();

    // Writes a preset file into the simulator's folder.
    void writePreset(const std::string& name, const std::vector<std::uint8_t>& bytes);

  private:
    void readOutput(int fd);

    std::string address_;
    std::filesystem::path presets_;
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

// A fresh empty temporary folder, removed at destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace zelto::test
