// Reads with patterns and time-outs, over a server on loopback.
#include <gtest/gtest.h>

#include <future>

#include "osc/transport_test_support.h"

namespace zelto::test {
namespace {

using namespace std::chrono_literals;

using ReadTest = ServerFixture;

// Waits until `address` has gone through the server, so it was received before
// whatever starts next.
void awaitPublished(ServerFixture& f, AsyncIterator<OSCObjectPtr>& objects, std::string_view address) {
    while (true) {
        auto next = runWithDeadline(f.pool.executor(), objects.next());
        ASSERT_TRUE(next);
        if ((*next)->message() && (*next)->message()->address().address() == address) return;
    }
}

TEST_F(ReadTest, ReturnsOnlyMessagesReceivedAfterTheReadBegan) {
    Peer peer;
    auto objects = server->objects()->makeAsyncIterator();
    peer.send(port, message("/reply"));
    awaitPublished(*this, objects, "/reply");
    EXPECT_EQ(run(outcome(server->readMessage("/reply", 100 * kMillisecond, true))), "readTimeout");

    auto read = server->readMessage("/reply", 5 * kSecond, true);  // subscribed here
    peer.send(port, message("/reply"));
    EXPECT_EQ(run(outcome(std::move(read))), "/reply");
}

TEST_F(ReadTest, ConcurrentReadsOfTheSameReplyEachGetIt) {
    Peer peer;
    peer.send(port, message("/hello"));
    ASSERT_TRUE(events->waitFor("connection"));
    auto connection = server->connections().at(0);
    std::vector<std::future<std::string>> reads;
    for (int i = 0; i < 3; ++i) {
        auto read = (i == 0 ? static_cast<OSCMessageProvider&>(*server) : *connection)
                        .readMessage("/ZELTOapp/control/PresetList", 5 * kSecond, false);
        reads.push_back(std::async(std::launch::async, [this, read = std::move(read)]() mutable {
            return run(outcome(std::move(read)));
        }));
    }
    peer.send(port, message("/ZELTOapp/control/PresetList", {OSCValue("a"), OSCValue("qv42")}));
    for (auto& read : reads) EXPECT_EQ(read.get(), "/ZELTOapp/control/PresetList");
}

TEST_F(ReadTest, PatternsAndBundleMessages) {
    struct Case {
        const char* name;
        std::optional<std::string> pattern;  // none: no pattern at all
        bool considerBundleMessages;
        std::string expected;
    };
    const Case cases[] = {
        {"wildcard pattern", "/status/*", true, "/status/b"},
        {"no pattern takes the first", std::nullopt, false, "/other"},
        {"invalid pattern text acts as none", "bad", false, "/other"},
        {"bundle messages left out", "/status/*", false, "/status/b"},
        {"bundle messages considered", "/in/*", true, "/in/bundle"},
        {"nested bundles considered", "/deep/*", true, "/deep/er"},
        {"top level only skips bundles", "/in/*", false, "readTimeout"},
    };
    Peer peer;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto objects = server->objects()->makeAsyncIterator();
        auto read = !c.pattern
                        ? server->readMessage(std::optional<OSCAddressPattern>(), 300 * kMillisecond,
                                              c.considerBundleMessages)
                        : server->readMessage(*c.pattern, 300 * kMillisecond, c.considerBundleMessages);
        OSCBundle nested;
        nested.add(message("/deep/er"));
        OSCBundle bundle;
        bundle.add(message("/in/bundle"));
        bundle.add(nested);
        peer.send(port, message("/other"));
        peer.send(port, bundle);
        peer.send(port, message("/status/b"));
        EXPECT_EQ(run(outcome(std::move(read))), c.expected);
        // This case's traffic is through before the next read begins.
        peer.send(port, message("/end"));
        awaitPublished(*this, objects, "/end");
    }
}

TEST_F(ReadTest, ReadBundleReturnsTheNextBundle) {
    Peer peer;
    auto read = server->readBundle(5 * kSecond);
    OSCBundle inner(7);
    inner.add(message("/inner"));
    OSCBundle outer(9);
    outer.add(message("/outer"));
    outer.add(inner);
    peer.send(port, message("/not/a/bundle"));
    peer.send(port, outer);
    auto bundle = runWithDeadline(pool.executor(), std::move(read));
    EXPECT_EQ(bundle.timetag(), 9u);
    ASSERT_EQ(bundle.elements().size(), 2u);
    EXPECT_EQ(bundle.elements()[1].bundle()->timetag(), 7u);
    EXPECT_TRUE(bundle.receiveTime());
}

TEST_F(ReadTest, TimeOutsAndCancellation) {
    // No reply within the time-out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(outcome(server->readMessage("/nothing", 200 * kMillisecond, true))), "readTimeout");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 3s);

    // A read pending while the server is cancelled, with and without a time-out.
    Peer peer;
    peer.send(port, message("/hello"));
    ASSERT_TRUE(events->waitFor("connection"));
    auto connection = server->connections().at(0);
    std::vector<Task<OSCMessage>> reads;
    reads.push_back(server->readMessage("/never", std::nullopt, true));
    reads.push_back(connection->readMessage("/never", std::nullopt, true));
    reads.push_back(connection->readMessage("/never", 60 * kSecond, true));
    std::vector<std::future<std::string>> pending;
    for (auto& read : reads) {
        pending.push_back(std::async(std::launch::async, [this, read = std::move(read)]() mutable {
            return run(outcome(std::move(read)));
        }));
    }
    server->cancel();
    for (auto& read : pending) EXPECT_EQ(read.get(), "connectionCanceled");

    // A read that starts after the end does not wait.
    EXPECT_EQ(run(outcome(connection->readMessage("/never", std::nullopt, true))), "connectionCanceled");
    EXPECT_EQ(run(outcome(server->readMessage("/never", std::nullopt, true))), "connectionCanceled");
}

TEST_F(ReadTest, WaitForConnectionOutcomes) {
    auto outcomeOf = [this](Task<std::shared_ptr<OSCConnection>> wait) {
        return run([](Task<std::shared_ptr<OSCConnection>> wait) -> Task<std::string> {
            try {
                auto connection = co_await std::move(wait);
                co_return connection->description();
            } catch (const OSCServerError& e) {
                co_return e.what();
            }
        }(std::move(wait)));
    };
    // A peer that connected before the call is not the next one.
    Peer early, peer;
    early.send(port, message("/early"));
    ASSERT_TRUE(events->waitFor("connection"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcomeOf(server->waitForConnection(200 * kMillisecond)), "connectionTimeout");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);

    auto wait = server->waitForConnection(5 * kSecond);
    peer.send(port, message("/hi"));
    EXPECT_EQ(outcomeOf(std::move(wait)), "OSCConnection@127.0.0.1:" + std::to_string(peer.port()));

    auto stopped = std::async(
        std::launch::async,
        [&, wait = server->waitForConnection(std::nullopt)]() mutable { return outcomeOf(std::move(wait)); });
    server->cancel();
    EXPECT_EQ(stopped.get(), "serverStopped");
    EXPECT_EQ(outcomeOf(server->waitForConnection(std::nullopt)), "serverStopped");
}

TEST_F(ReadTest, StreamViewsSplitBundles) {
    auto all = server->allMessages().makeAsyncIterator();
    auto top = server->messages().makeAsyncIterator();
    auto bundles = server->bundles().makeAsyncIterator();
    Peer peer;
    OSCBundle nested;
    nested.add(message("/b2"));
    OSCBundle bundle;
    bundle.add(message("/b1"));
    bundle.add(nested);
    peer.send(port, bundle);
    peer.send(port, message("/m"));
    auto names = [this](AsyncIterator<OSCMessage>& it, int n) {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i)
            out.emplace_back(runWithDeadline(pool.executor(), it.next())->address().address());
        return out;
    };
    EXPECT_EQ(names(all, 3), (std::vector<std::string>{"/b1", "/b2", "/m"}));
    EXPECT_EQ(names(top, 1), (std::vector<std::string>{"/m"}));
    EXPECT_EQ(runWithDeadline(pool.executor(), bundles.next())->elements().size(), 2u);
    server->cancel();
    EXPECT_EQ(runWithDeadline(pool.executor(), all.next()), std::nullopt);
}

}  // namespace
}  // namespace zelto::test
