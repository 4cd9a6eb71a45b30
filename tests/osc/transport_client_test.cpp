// The client against the server on loopback, and its failure reports.
#include <gtest/gtest.h>

#include "osc/OSCClient.h"
#include "osc/transport_test_support.h"
#include "support/NetNamespace.h"

namespace zelto::test {
namespace {

class FailureInbox : public OSCClientDelegate {
  public:
    void clientDidFailSending(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            failures.put(e.what());
        }
    }
    Inbox<std::string> failures;
};

using ClientTest = ServerFixture;

TEST_F(ClientTest, SendsMessagesAndBundlesToItsOwnAndToNamedDestinations) {
    auto objects = server->objects()->makeAsyncIterator();
    OSCClient client("127.0.0.1", port, pool.makeStrand());
    EXPECT_EQ(client.queueLabel(), "OSCClient 127.0.0.1:" + std::to_string(port));
    client.sendMessage(message("/default", {OSCValue(std::int32_t(1))}), 500 * kMillisecond);
    OSCBundle bundle;
    bundle.add(message("/in/bundle"));
    client.sendBundle(bundle, 1 * kSecond);
    client.sendMessage(message("/by/name"), "localhost", port, 1 * kSecond);

    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto object = runWithDeadline(pool.executor(), objects.next());
        ASSERT_TRUE(object);
        seen.push_back((*object)->message() ? std::string((*object)->message()->address().address())
                                            : "bundle");
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"/by/name", "/default", "bundle"}));
    // All three came from the client's one socket: one connection.
    EXPECT_EQ(server->connections().size(), 1u);
}

TEST_F(ClientTest, SendFailuresReachTheDelegateNotTheCaller) {
    auto delegate = std::make_shared<FailureInbox>();
    OSCClient client("127.0.0.1", port, pool.makeStrand(), delegate);
    EXPECT_NO_THROW(client.sendMessage(message("/x"), "host.invalid", 9, 1 * kSecond));
    auto failures = delegate->failures.waitFor(1);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "Error in getaddrinfo() function");
}

// Behind a link that takes datagrams in and lets none out (a token bucket of
// 8 bit/s), the socket's buffer fills and sends wait. A time-out counts in
// whole seconds: one second fails a waiting send after a second, anything
// shorter is none at all.
TEST_F(ClientTest, SendTimeOutsCountInWholeSeconds) {
    ASSERT_EQ(runCommand("ip link add zta type veth peer name ztb && ip addr add 10.9.1.1/24 dev zta && "
                         "ip link set zta up && ip link set ztb up && "
                         "ip neigh add 10.9.1.2 lladdr 02:00:00:00:00:01 dev zta nud permanent && "
                         "tc qdisc add dev zta root tbf rate 8bit burst 1600 limit 100000000"),
              0);
    auto belowOneSecond = std::make_shared<FailureInbox>(), oneSecond = std::make_shared<FailureInbox>();
    OSCClient waitsForever("10.9.1.2", 9110, pool.makeStrand(), belowOneSecond);
    OSCClient givesUp("10.9.1.2", 9110, pool.makeStrand(), oneSecond);
    auto datagram = message("/fill", {OSCValue::blob(std::vector<std::uint8_t>(1000))});
    // Far more than a socket buffer holds.
    for (int i = 0; i < 400; ++i) waitsForever.sendMessage(datagram, 999'999'999);
    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 400; ++i) givesUp.sendMessage(datagram, kSecond);
    auto failures = oneSecond->failures.waitFor(1);
    auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0], "Send operation timed out");
    EXPECT_GE(waited, std::chrono::seconds(1));
    EXPECT_TRUE(belowOneSecond->failures.values().empty()) << belowOneSecond->failures.values()[0];
}

}  // namespace
}  // namespace zelto::test
