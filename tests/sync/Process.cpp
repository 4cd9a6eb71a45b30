#include "sync/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zelto::test {

namespace {

pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

}  // namespace

std::string builtProgram(const std::string& name) {
    const char* build = std::getenv("ZELTO_BUILD_DIR");
    return std::string(build ? build : ".") + "/tools/" + name + "/" + name;
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

// Reads the simulator's output for its whole life, so it never blocks on a
// full pipe, and tells the constructor when it listens.
struct SimProcess::Drain {
    int fd = -1;
    std::thread thread;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string text;
    bool closed = false;

    void run() {
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            std::lock_guard lock(mutex);
            if (n <= 0) {
                closed = true;
                changed.notify_all();
                return;
            }
            text.append(buffer, static_cast<std::size_t>(n));
            changed.notify_all();
        }
    }
};

SimProcess::SimProcess(const std::string& address, const std::string& presetFolder,
                       std::vector<std::string> extra)
    : address_(address), drain_(std::make_unique<Drain>()) {
    std::vector<std::string> argv = {builtProgram("zelto-sim"), "--address", address, "--presets",
                                     presetFolder};
    argv.insert(argv.end(), extra.begin(), extra.end());
    int out[2];
    makePipe(out);
    pid_ = spawn(argv, -1, out[1], out[1]);
    ::close(out[1]);
    drain_->fd = out[0];
    drain_->thread = std::thread([d = drain_.get()] { d->run(); });
    std::unique_lock lock(drain_->mutex);
    bool ready = drain_->changed.wait_for(lock, std::chrono::seconds(10), [&] {
        return drain_->closed || drain_->text.find("listening on") != std::string::npos;
    });
    if (!ready || drain_->text.find("listening on") == std::string::npos) {
        std::string text = drain_->text;
        lock.unlock();
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        drain_->thread.join();
        ::close(drain_->fd);
        throw std::runtime_error("zelto-sim on " + address + " did not start: " + text);
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT);
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (drain_->thread.joinable()) drain_->thread.join();
    ::close(drain_->fd);
}

void SimProcess::pause() {
    ::kill(pid_, SIGSTOP);
}
void SimProcess::resume() {
    ::kill(pid_, SIGCONT);
}

std::string SimProcess::output() const {
    std::lock_guard lock(drain_->mutex);
    return drain_->text;
}

}  // namespace zelto::test

namespace zelto::test {

bool SimProcess::waitForOutput(const std::string& text, std::chrono::milliseconds limit, int times) const {
    auto count = [&] {
        int n = 0;
        for (auto at = drain_->text.find(text); at != std::string::npos; at = drain_->text.find(text, at + 1))
            ++n;
        return n;
    };
    std::unique_lock lock(drain_->mutex);
    drain_->changed.wait_for(lock, limit, [&] { return drain_->closed || count() >= times; });
    return count() >= times;
}

}  // namespace zelto::test
