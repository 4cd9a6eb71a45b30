#include "device/SimProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace zelto::test {

namespace fs = std::filesystem;

namespace {

fs::path makeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "zelto-device-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace

TempFolder::TempFolder() : path_(makeTempFolder()) {}
TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

SimProcess::SimProcess(const std::string& address, std::vector<std::string> extra)
    : address_(address), presets_(makeTempFolder()) {
    std::vector<std::string> args = {ZELTO_SIM_PATH, "--presets", presets_.string(), "--address", address};
    args.insert(args.end(), extra.begin(), extra.end());
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a test that died
        dup2(pipeFds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    reader_ = std::thread([this, fd = pipeFds[0]] { readOutput(fd); });
    if (!waitForLine("zelto-sim listening on"))
        throw std::runtime_error("zelto-sim did not start on " + address);
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
    std::error_code ec;
    fs::remove_all(presets_, ec);
}

void SimProcess::readOutput(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        std::lock_guard lock(mutex_);
        while ((end = pending.find('\n')) != std::string::npos) {
            lines_.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

bool SimProcess::waitForLine(const std::string& text, std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    std::size_t checked = 0;
    return changed_.wait_for(lock, deadline, [&] {
        for (; checked < lines_.size(); ++checked) {
            if (lines_[checked].find(text) != std::string::npos) return true;
        }
        return ended_;
    }) && !(ended_ && checked == lines_.size());
}

bool SimProcess::waitForCount(const std::string& text, int count, std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    std::size_t checked = 0;
    int seen = 0;
    return changed_.wait_for(lock, deadline, [&] {
        for (; checked < lines_.size(); ++checked) seen += lines_[checked].find(text) != std::string::npos;
        return seen >= count || ended_;
    }) && seen >= count;
}

int SimProcess::countLines(const std::string& text) {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& line : lines_) count += line.find(text) != std::string::npos;
    return count;
}

std::vector<std::string> SimProcess::lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

void SimProcess::writePreset(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(presets_ / (name + ".ZELTOshow"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace zelto::test
