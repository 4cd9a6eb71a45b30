// A flood from one peer that nobody reads: every receive queue of a server and
// its connections fills up (the datagrams held for a new peer, the server's
// and the connection's streams, a view, a stalled dispatcher), and together
// they keep no more memory than the server's receive budget. The datagrams
// are the worst for their size: a 65,504-byte message of 65,495 'T' tags
// decodes to about 3 MB of values, and an 8-byte message pins a whole pooled
// datagram buffer. Counting encoded sizes, as the queues once did, let them
// grow to gigabytes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <asio/use_future.hpp>
#include <condition_variable>
#include <future>
#include <mutex>

#include "osc/transport_test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELTO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZELTO_ASAN 1
#endif
#ifdef ZELTO_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace zelto::test {
namespace {

// Far below what the floods below would take without a bound.
constexpr std::size_t bound = std::size_t{8} << 20;

// Heap bytes in use by the whole process.
std::size_t heapInUse() {
#ifdef ZELTO_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// Holds every job that waits on it until it opens.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

struct Flood {
    const char* name;
    std::string address;
    std::vector<std::uint8_t> datagram;
    // Sent while the peer's datagrams are held, then while they are decoded.
    std::size_t heldCount;
    std::size_t decodedCount;
};

Flood trueTags() {
    std::vector<OSCValue> values(65'495, OSCValue(true));
    auto datagram = OSCMessage::make("/T", std::span<const OSCValue>(values))->encode();
    return {"TrueTags", "/T", std::move(datagram), 300, 64};
}

Flood tinyMessages() {
    return {"TinyMessages", "/a", OSCMessage::make("/a")->encode(), 20'000, 20'000};
}

void PrintTo(const Flood& flood, std::ostream* out) {
    *out << flood.name;
}

std::string nameOf(const testing::TestParamInfo<Flood>& info) {
    return info.param.name;
}

class ReceiveMemory : public testing::TestWithParam<Flood> {};

// Sends `count` copies of `datagram`, then a marker from a new peer until the
// server announces that peer: every datagram sent before it has then been
// taken in (or lost in the kernel).
void flood(std::uint16_t port, const std::vector<std::uint8_t>& datagram, std::size_t count,
           ServerEvents& events, std::size_t connectionsAfter) {
    Peer peer, marker;
    for (std::size_t i = 0; i < count; ++i) peer.send(port, datagram);
    bool announced = false;
    for (int attempt = 0; attempt < 100 && !announced; ++attempt) {
        marker.send(port, message("/marker"));
        announced = events.waitFor("connection", connectionsAfter, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(announced) << "the marker never arrived";
}

TEST_P(ReceiveMemory, AFloodThatNobodyReadsStaysWithinTheBudget) {
    const Flood& f = GetParam();
    auto budget = std::make_shared<MemoryBudget>(bound);
    Gate callbacks;  // stalls every connection's dispatcher in its first callback
    Gate reader;     // stalls the reader of the first announcement
    {
        IoPool pool{6};
        auto events = std::make_shared<ServerEvents>();
        auto server = std::make_shared<OSCServer>(
            0, events, pool.makeStrand(), decoderFunction<OSCStandardDecoder>(), std::nullopt, budget);
        server->start();
        const auto port = *server->localPort();

        auto unreadObjects = server->objects()->makeAsyncIterator();
        auto unreadView = server->allMessages();
        std::mutex connectionsMutex;
        std::vector<AsyncIterator<OSCObjectPtr>> unreadConnections;
        events->onConnection = [&](const std::shared_ptr<OSCConnection>& connection) {
            std::lock_guard lock(connectionsMutex);
            unreadConnections.push_back(connection->objects()->makeAsyncIterator());
            connection->dispatcher().addCallback(
                *OSCAddressPattern::make(f.address),
                [&](const OSCAddressPattern&, const OSCMessage&) { callbacks.wait(); });
        };
        // The first peer's datagrams are held until this reader has taken its announcement.
        auto readerQueue = pool.makeStrand();
        asio::post(readerQueue, [&] { reader.wait(); });
        auto wait = server->waitForConnection(120 * kSecond);
        auto announced = asio::co_spawn(
            readerQueue,
            [](Task<std::shared_ptr<OSCConnection>> wait) -> Task<std::shared_ptr<OSCConnection>> {
                co_return co_await std::move(wait);
            }(std::move(wait)),
            asio::use_future);

        const std::size_t heapBefore = heapInUse();
        auto check = [&](const char* phase) {
            const std::size_t now = heapInUse();
            const std::size_t growth = now > heapBefore ? now - heapBefore : 0;
            std::printf("%s, %s: %zu bytes accounted (peak %zu), heap grew by %zu bytes, %llu refused\n",
                        f.name, phase, budget->used(), budget->peak(), growth,
                        static_cast<unsigned long long>(budget->refusedCount()));
            EXPECT_LE(budget->peak(), bound) << phase;
            // What the queues keep, plus what is on its way between them (the
            // view's feeder may hold an object and its copy of the message):
            // unbounded, the heap grows by gigabytes here.
            EXPECT_LT(growth, 3 * bound) << phase;
        };

        ASSERT_NO_FATAL_FAILURE(flood(port, f.datagram, f.heldCount, *events, 2));
        check("held for a new peer");
        reader.open();
        ASSERT_EQ(announced.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        auto firstConnection = announced.get();
        ASSERT_TRUE(firstConnection);

        // A second peer, not held: its datagrams are decoded into every queue.
        ASSERT_NO_FATAL_FAILURE(flood(port, f.datagram, f.decodedCount, *events, 4));
        check("decoded");
        EXPECT_GT(budget->refusedCount(), 0u) << "the flood never reached the bound";
        std::uint64_t dropped = unreadObjects.droppedCount() + server->objects()->droppedCount();
        for (const auto& connection : server->connections())
            dropped += connection->dispatcher().droppedCount();
        EXPECT_GT(dropped, 0u) << "drops are counted";

        callbacks.open();
        server->cancel();
        std::lock_guard lock(connectionsMutex);
        unreadConnections.clear();
    }
    // Every queue gave back what it took.
    EXPECT_EQ(budget->used(), 0u);
}

INSTANTIATE_TEST_SUITE_P(WorstCaseDatagrams, ReceiveMemory, testing::Values(trueTags(), tinyMessages()),
                         nameOf);

// Without a budget of its own, a server shares the process's, which bounds
// the receive side of the whole application.
TEST(ReceiveBudget, ServersShareTheProcessBudgetUnlessGivenTheirOwn) {
    IoPool pool{1};
    auto shared = OSCMessageProvider::sharedReceiveBudget();
    EXPECT_EQ(shared->limit(), OSCMessageProvider::defaultReceiveBudget);
    auto first = std::make_shared<OSCServer>(0, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand());
    auto second = std::make_shared<OSCServer>(0, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand());
    EXPECT_EQ(first->receiveBudget(), shared);
    EXPECT_EQ(second->receiveBudget(), shared);
    auto own = std::make_shared<MemoryBudget>(1 << 20);
    auto third = std::make_shared<OSCServer>(0, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand(),
                                             decoderFunction<OSCStandardDecoder>(), std::nullopt, own);
    EXPECT_EQ(third->receiveBudget(), own);
}

}  // namespace
}  // namespace zelto::test
