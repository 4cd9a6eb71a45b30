// Callback dispatch by address pattern, without a network.
#include <gtest/gtest.h>

#include "osc/OSCObjectDispatcher.h"
#include "osc/transport_test_support.h"

namespace zelto::test {
namespace {

class DispatcherTest : public ::testing::Test {
  protected:
    // Registers a callback that records "<name>:<address>".
    void record(const char* pattern, std::string name) {
        dispatcher.addCallback(*OSCAddressPattern::make(pattern),
                               [this, name](const OSCAddressPattern&, const OSCMessage& m) {
                                   calls.put(name + ":" + std::string(m.address().address()));
                               });
    }
    // Everything posted so far has run once this returns.
    std::vector<std::string> settle() {
        std::promise<void> done;
        asio::post(dispatcher.queue(), [&] { done.set_value(); });
        done.get_future().wait();
        return calls.values();
    }

    IoPool pool{2};
    OSCObjectDispatcher dispatcher{pool.makeStrand()};
    Inbox<std::string> calls;
};

TEST_F(DispatcherTest, RunsMatchingCallbacksInRegistrationAndElementOrder) {
    record("/a/*", "wild");
    record("/a/b", "exact");
    record("/x", "x");
    OSCBundle nested(5);
    nested.add(message("/a/c"));
    nested.add(message("/x"));
    OSCBundle bundle;
    bundle.add(message("/a/b"));
    bundle.add(nested);
    bundle.add(message("/nobody"));
    dispatcher.dispatchBundle(bundle);
    EXPECT_EQ(settle(), (std::vector<std::string>{"wild:/a/b", "exact:/a/b", "wild:/a/c", "x:/x"}));
}

TEST_F(DispatcherTest, RemoveCallbackRemovesEveryEntryOfThePattern) {
    record("/a/b", "first");
    record("/a/b", "second");
    record("/a/*", "other");
    dispatcher.removeCallback(*OSCAddressPattern::make("/a/b"));
    dispatcher.dispatchMessage(message("/a/b"));
    EXPECT_EQ(settle(), std::vector<std::string>{"other:/a/b"});
}

}  // namespace
}  // namespace zelto::test
