// The client against the server on loopback, and its failure reports.
#include <gtest/gtest.h>

#include "osc/OSCClient.h"
#include "osc/transport_test_support.h"

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

}  // namespace
}  // namespace zelto::test
