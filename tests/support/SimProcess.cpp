#include "support/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifdef ZELTO_SIM_REPORTS_TO_GTEST
#include <gtest/gtest.h>
#endif

namespace zelto::test {

namespace fs = std::filesystem;

namespace {

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

// Starts `argv` with the given descriptors as stdin (-1: inherited), stdout
// and stderr. The child never outlives a test that died.
pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string failed = "cannot run " + argv.at(0) + "\n";
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (in >= 0) ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(args[0], args.data());
        (void)!::write(STDERR_FILENO, failed.data(), failed.size());
        ::_exit(127);
    }
    return pid;
}

constexpr const char* kProtocolError = "protocol error: ";

std::vector<std::string> protocolErrors(const std::vector<std::string>& lines) {
    std::vector<std::string> errors;
    for (const auto& line : lines) {
        if (line.find(kProtocolError) != std::string::npos) errors.push_back(line);
    }
    return errors;
}

void reportProtocolError(const std::string& address, const std::string& line) {
#ifdef ZELTO_SIM_REPORTS_TO_GTEST
    ADD_FAILURE() << "zelto-sim " << address << " refused a message: " << line;
#else
    std::fprintf(stderr, "zelto-sim %s refused a message: %s\n", address.c_str(), line.c_str());
#endif
}

}  // namespace

std::string builtProgram(const std::string& name) {
    const char* build = std::getenv("ZELTO_BUILD_DIR");
    if (build && *build) return std::string(build) + "/tools/" + name + "/" + name;
    std::error_code error;
#ifdef ZELTO_SIM_PATH
    if (name == "zelto-sim" && fs::exists(ZELTO_SIM_PATH, error)) return ZELTO_SIM_PATH;
#endif
#ifdef ZELTO_CLI_PATH
    if (name == "zelto" && fs::exists(ZELTO_CLI_PATH, error)) return ZELTO_CLI_PATH;
#endif
    return "./tools/" + name + "/" + name;
}

std::vector<std::string> SimFaults::arguments() const {
    std::vector<std::string> out;
    auto add = [&out](const char* option, std::string value) {
        out.emplace_back(option);
        out.push_back(std::move(value));
    };
    if (ignoreListRequests > 0) add("--ignore-list-requests", std::to_string(ignoreListRequests));
    if (ignorePresetRequests > 0) add("--ignore-preset-requests", std::to_string(ignorePresetRequests));
    if (offlineAfter) add("--offline-after", std::to_string(offlineAfter->count()));
    if (offlineFor) add("--offline-for", std::to_string(offlineFor->count()));
    if (listDelay.count() > 0) add("--list-delay", std::to_string(listDelay.count()));
    if (dropPresets > 0) add("--drop-presets", std::to_string(dropPresets));
    if (corruptPresets > 0) add("--corrupt-presets", std::to_string(corruptPresets));
    return out;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::milliseconds limit) {
    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);
    pid_t pid = spawn(argv, in[0], out[1], err[1]);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);

    ProcessResult result;
    auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    if (timedOut) ::kill(pid, SIGKILL);
    for (auto& f : fds) {
        if (f.fd >= 0) ::close(f.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = (!timedOut && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

// Reads the simulator's output line by line for its whole life, so it never
// blocks on a full pipe.
struct SimProcess::Drain {
    int fd = -1;
    std::thread thread;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> lines;
    bool closed = false;

    void run() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            std::lock_guard lock(mutex);
            if (n <= 0) {
                if (!pending.empty()) lines.push_back(pending);
                closed = true;
                changed.notify_all();
                return;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                lines.push_back(pending.substr(0, end));
            changed.notify_all();
        }
    }
};

SimProcess::SimProcess(const std::string& address, std::vector<std::string> extra) : address_(address) {
    std::string pattern = (fs::temp_directory_path() / "zelto-sim-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    presets_ = pattern;
    ownsPresets_ = true;
    start(std::move(extra));
}

SimProcess::SimProcess(const std::string& address, const std::string& presetFolder,
                       std::vector<std::string> extra)
    : address_(address), presets_(presetFolder) {
    start(std::move(extra));
}

void SimProcess::start(std::vector<std::string> extra) {
    std::vector<std::string> argv = {builtProgram("zelto-sim"), "--address", address_, "--presets",
                                     presets_.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    drain_ = std::make_unique<Drain>();
    int out[2];
    makePipe(out);
    pid_ = spawn(argv, -1, out[1], out[1]);
    ::close(out[1]);
    drain_->fd = out[0];
    drain_->thread = std::thread([d = drain_.get()] { d->run(); });
    if (!waitForLine("listening on")) {
        std::string text;
        for (auto& line : lines()) text += line + "\n";
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        drain_->thread.join();
        ::close(drain_->fd);
        if (ownsPresets_) fs::remove_all(presets_);
        throw std::runtime_error("zelto-sim on " + address_ + " did not start: " + text);
    }
}

SimProcess::~SimProcess() {
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    if (drain_->thread.joinable()) drain_->thread.join();
    ::close(drain_->fd);
    auto errors = protocolErrors(drain_->lines);
    for (std::size_t i = protocolErrorsTaken_; i < errors.size(); ++i)
        reportProtocolError(address_, errors[i]);
    std::error_code ec;
    if (ownsPresets_) fs::remove_all(presets_, ec);
}

void SimProcess::writePreset(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream(presets_ / (name + ".ZELTOshow"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void SimProcess::pause() {
    ::kill(pid_, SIGSTOP);
}
void SimProcess::resume() {
    ::kill(pid_, SIGCONT);
}

bool SimProcess::waitForCount(const std::string& text, int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(drain_->mutex);
    std::size_t checked = 0;
    int seen = 0;
    drain_->changed.wait_for(lock, limit, [&] {
        for (; checked < drain_->lines.size(); ++checked)
            seen += drain_->lines[checked].find(text) != std::string::npos;
        return seen >= count || drain_->closed;
    });
    return seen >= count;
}

int SimProcess::countLines(const std::string& text) const {
    int count = 0;
    for (const auto& line : lines()) count += line.find(text) != std::string::npos;
    return count;
}

std::vector<std::string> SimProcess::takeProtocolErrors() {
    auto errors = protocolErrors(lines());
    std::vector<std::string> taken(errors.begin() + static_cast<std::ptrdiff_t>(protocolErrorsTaken_),
                                   errors.end());
    protocolErrorsTaken_ = errors.size();
    return taken;
}

std::vector<std::string> SimProcess::lines() const {
    std::lock_guard lock(drain_->mutex);
    return drain_->lines;
}

}  // namespace zelto::test
