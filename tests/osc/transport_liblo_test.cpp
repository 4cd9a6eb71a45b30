// Interoperation with an OSC implementation we did not write: liblo's
// command-line tools send to our server and receive from our client.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "osc/OSCClient.h"
#include "osc/transport_test_support.h"
#include "support/NetNamespace.h"

extern char** environ;

namespace zelto::test {
namespace {

// A child process whose standard output we read line by line.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    bool started() const { return pid_ > 0; }
    // The next line, if one arrives within `wait`.
    std::optional<std::string> line(std::chrono::milliseconds wait) {
        while (true) {
            auto end = pending_.find('\n');
            if (end != std::string::npos) {
                auto line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
            char buffer[512];
            auto n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

using LibloTest = ServerFixture;

TEST_F(LibloTest, OscsendReachesOurServer) {
    auto read = server->readMessage("/liblo/*", 10 * kSecond, true);
    ASSERT_EQ(runCommand("oscsend 127.0.0.1 " + std::to_string(port) + " /liblo/test ifsT 5 1.5 hello"), 0);
    auto received =
        runWithDeadline(pool.executor(), [](Task<OSCMessage> read) -> Task<std::optional<OSCMessage>> {
            co_return co_await std::move(read);
        }(std::move(read)));
    ASSERT_TRUE(received);
    const auto& m = *received;
    EXPECT_EQ(m.address().address(), "/liblo/test");
    ASSERT_EQ(m.values().size(), 4u);
    EXPECT_EQ(m.values()[0].asInt32(), 5);
    EXPECT_EQ(m.values()[1].asFloat(), 1.5f);
    EXPECT_EQ(m.values()[2].asString(), "hello");
    EXPECT_EQ(m.values()[3].asBool(), true);
}

TEST_F(LibloTest, OscdumpReceivesFromOurClient) {
    Child dump({"oscdump", "-L", "9131"});
    ASSERT_TRUE(dump.started());
    OSCClient client("127.0.0.1", 9131, pool.makeStrand());
    // oscdump gives no sign of readiness: repeat the message until it shows.
    std::optional<std::string> line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!line && std::chrono::steady_clock::now() < deadline) {
        client.sendMessage(message("/zelto/test", {OSCValue(std::int32_t(7)), OSCValue("hi")}), 0);
        line = dump.line(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("/zelto/test is 7 \"hi\""), std::string::npos) << *line;
}

}  // namespace
}  // namespace zelto::test
