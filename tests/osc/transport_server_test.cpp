// The server on loopback: peers and connections, the announcement of a new
// peer, restart, start failures, bad datagrams, IPv6, bursts.
#include <gtest/gtest.h>

#include <asio/detached.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/use_future.hpp>
#include <atomic>
#include <cstring>
#include <future>
#include <random>
#include <set>
#include <stdexcept>

#include "osc/OSCClient.h"
#include "osc/transport_test_support.h"

namespace zelto::test {
namespace {

// Reads `count` objects of a stream subscribed before the traffic started.
Task<std::vector<OSCObjectPtr>> take(AsyncIterator<OSCObjectPtr> it, std::size_t count) {
    std::vector<OSCObjectPtr> out;
    while (out.size() < count) {
        auto read = it.next();
        auto next = co_await std::move(read);
        if (!next) break;
        out.push_back(*next);
    }
    co_return out;
}

template <class T>
Task<std::size_t> drain(AsyncIterator<T> it) {
    std::size_t count = 0;
    while (true) {
        auto read = it.next();
        auto next = co_await std::move(read);
        if (!next) co_return count;
        ++count;
    }
}

std::string addressOf(const OSCObjectPtr& object) {
    return object->message() ? std::string(object->message()->address().address()) : "bundle";
}

using ServerTest = ServerFixture;

TEST_F(ServerTest, PeersAreTrackedByHostAndPortAndAnnouncedOnce) {
    auto objects = server->objects()->makeAsyncIterator();
    Peer a, b;
    a.send(port, message("/one"));
    a.send(port, message("/two"));
    b.send(port, message("/three"));
    auto received = runWithDeadline(pool.executor(), take(std::move(objects), 3));
    ASSERT_EQ(received.size(), 3u);

    auto connections = server->connections();
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0]->endpoint(), (OSCEndpoint{"127.0.0.1", a.port()}));
    EXPECT_EQ(connections[1]->endpoint(), (OSCEndpoint{"127.0.0.1", b.port()}));
    EXPECT_EQ(events->details("connection"),
              (std::vector<std::string>{"OSCConnection@127.0.0.1:" + std::to_string(a.port()),
                                        "OSCConnection@127.0.0.1:" + std::to_string(b.port())}));
    // Stamped with the sender and a receive time.
    for (const auto& object : received) {
        ASSERT_TRUE(object->endpoint());
        EXPECT_EQ(object->endpoint()->host, "127.0.0.1");
        EXPECT_TRUE(object->receiveTime());
    }
    // Each connection's own stream carries only its peer, and keeps nothing
    // for a reader that had not come yet.
    auto onlyB = connections[1]->objects()->makeAsyncIterator();
    a.send(port, message("/four"));
    b.send(port, message("/five"));
    b.send(port, message("/six"));
    auto fromB = runWithDeadline(pool.executor(), take(std::move(onlyB), 2));
    ASSERT_EQ(fromB.size(), 2u);
    EXPECT_EQ(addressOf(fromB[0]), "/five");
    EXPECT_EQ(addressOf(fromB[1]), "/six");
}

TEST_F(ServerTest, ReadersOfTheAnnouncementSeeTheFirstDatagram) {
    Inbox<std::string> seen;
    // 1. A loop over the connection stream that registers a callback and opens a view.
    auto announcements = server->connectionStream()->makeAsyncIterator();
    asio::co_spawn(
        pool.makeStrand(),
        [](AsyncIterator<std::shared_ptr<OSCConnection>> it, Inbox<std::string>* seen) -> Task<void> {
            auto read = it.next();
            auto connection = co_await std::move(read);
            if (!connection) co_return;
            (*connection)
                ->dispatcher()
                .addCallback(
                    *OSCAddressPattern::make("/first"),
                    [seen](const OSCAddressPattern&, const OSCMessage&) { seen->put("stream callback"); });
            auto view = (*connection)->messages().makeAsyncIterator();
            auto first = view.next();
            auto m = co_await std::move(first);
            if (m) seen->put("view " + std::string(m->address().address()));
        }(std::move(announcements), &seen),
        asio::detached);
    // 2. waitForConnection, then a callback registered by its caller.
    auto wait = server->waitForConnection(5 * kSecond);
    asio::co_spawn(
        pool.makeStrand(),
        [](Task<std::shared_ptr<OSCConnection>> wait, Inbox<std::string>* seen) -> Task<void> {
            auto connection = co_await std::move(wait);
            connection->dispatcher().addCallback(
                *OSCAddressPattern::make("/first"),
                [seen](const OSCAddressPattern&, const OSCMessage&) { seen->put("waiter callback"); });
        }(std::move(wait), &seen),
        asio::detached);
    // 3. The delegate, synchronously.
    events->onConnection = [&seen](const std::shared_ptr<OSCConnection>& connection) {
        connection->dispatcher().addCallback(
            *OSCAddressPattern::make("/first"),
            [&seen](const OSCAddressPattern&, const OSCMessage&) { seen.put("delegate callback"); });
    };

    Peer peer;
    peer.send(port, message("/first"));
    auto got = seen.waitFor(4);
    std::multiset<std::string> all(got.begin(), got.end());
    EXPECT_EQ(all, (std::multiset<std::string>{"delegate callback", "stream callback", "view /first",
                                               "waiter callback"}));
}

TEST_F(ServerTest, CancelEndsOldStreamsAndRestartGivesFreshOnes) {
    EXPECT_THROW(
        {
            try {
                server->start();
            } catch (const OSCServerError& e) {
                EXPECT_EQ(e.errorCase(), OSCServerError::Case::serverAlreadyStarted);
                throw;
            }
        },
        OSCServerError);

    Peer peer;
    auto objects = server->objects()->makeAsyncIterator();
    peer.send(port, message("/before"));
    ASSERT_EQ(runWithDeadline(pool.executor(), take(std::move(objects), 1)).size(), 1u);
    auto oldObjects = server->objects()->makeAsyncIterator();
    auto oldConnections = server->connectionStream()->makeAsyncIterator();
    auto oldConnection = server->connections().at(0);
    auto oldConnectionObjects = oldConnection->objects()->makeAsyncIterator();

    server->cancel();
    EXPECT_FALSE(server->isConnected());
    EXPECT_TRUE(server->connections().empty());
    ASSERT_TRUE(events->waitFor("stop"));
    EXPECT_EQ(events->details("stop"), std::vector<std::string>{""});
    // Readers of the old streams see them end; none kept anything from before
    // its readers came.
    EXPECT_EQ(runWithDeadline(pool.executor(), take(std::move(oldObjects), 10)).size(), 0u);
    EXPECT_EQ(runWithDeadline(pool.executor(), drain(std::move(oldConnections))), 0u);
    EXPECT_EQ(runWithDeadline(pool.executor(), take(std::move(oldConnectionObjects), 10)).size(), 0u);
    EXPECT_FALSE(oldConnection->isActive());

    server->start();
    EXPECT_TRUE(server->isConnected());
    port = *server->localPort();
    auto fresh = server->objects()->makeAsyncIterator();
    peer.send(port, message("/after"));
    auto received = runWithDeadline(pool.executor(), take(std::move(fresh), 1));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(addressOf(received[0]), "/after");
    ASSERT_EQ(server->connections().size(), 1u);
    EXPECT_NE(server->connections()[0], oldConnection);
}

TEST(ServerStartTest, SocketErrorsAreThrownAndTheListenerStaysSet) {
    IoPool pool{1};
    // Something holds port 9120 without port reuse.
    asio::io_context io;
    asio::ip::udp::socket holder(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 9120));

    struct Case {
        const char* name;
        std::uint16_t port;
        std::optional<std::string> interface;
        std::string text;
    };
    const Case cases[] = {
        {"unknown interface", 9121, "nosuchif0",
         "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
        {"port taken", 9120, std::nullopt, "Error in bind() function"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto server =
            std::make_shared<OSCServer>(c.port, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand(),
                                        decoderFunction<OSCStandardDecoder>(), c.interface);
        try {
            server->start();
            ADD_FAILURE() << "start succeeded";
        } catch (const AsyncUdpSocketError& e) {
            EXPECT_EQ(e.what(), c.text);
        }
        EXPECT_THROW(server->start(), OSCServerError);
        server->cancel();
    }
    // By name and by address, a known interface binds.
    for (const char* interface : {"lo", "127.0.0.1"}) {
        auto server = std::make_shared<OSCServer>(9122, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand(),
                                                  decoderFunction<OSCStandardDecoder>(), interface);
        EXPECT_NO_THROW(server->start()) << interface;
        EXPECT_EQ(server->description(), std::string("OSCServer@9122:") + interface);
        server->cancel();
    }
}

TEST_F(ServerTest, BadDatagramsNeverStopTheServer) {
    auto objects = server->objects()->makeAsyncIterator();
    Peer noise, broken, healthy;

    testing::internal::CaptureStdout();
    noise.send(port, std::vector<std::uint8_t>{'x', 'y', 'z', '!'});
    noise.send(port, message("/noise/ok"));
    auto first = runWithDeadline(pool.executor(), take(std::move(objects), 1));
    auto printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(addressOf(first[0]), "/noise/ok");  // not OSC: logged by name, dropped, peer still served
    EXPECT_NE(printed.find("dataIsNotOSC\n"), std::string::npos);

    // OSC, but malformed: ends that peer's stream, and a read pending on it.
    auto hello = server->objects()->makeAsyncIterator();
    broken.send(port, message("/broken/hello"));
    ASSERT_EQ(runWithDeadline(pool.executor(), take(std::move(hello), 1)).size(), 1u);  // dispatched already
    std::shared_ptr<OSCConnection> connection;
    for (auto& c : server->connections())
        if (c->endpoint().port == broken.port()) connection = c;
    ASSERT_TRUE(connection);
    Inbox<std::string> dispatched;
    connection->dispatcher().addCallback(*OSCAddressPattern::make("/broken/*"),
                                         [&dispatched](const OSCAddressPattern&, const OSCMessage& m) {
                                             dispatched.put(std::string(m.address().address()));
                                         });
    auto pending = std::async(std::launch::async,
                              [&, read = connection->readMessage("/never", 5 * kSecond, true)]() mutable {
                                  return run(outcome(std::move(read)));
                              });
    const std::vector<std::uint8_t> malformed{'/', 'a', 0, 0, ',', 'x', 0, 0};
    auto sent = std::chrono::steady_clock::now();
    broken.send(port, malformed);
    EXPECT_EQ(pending.get(), "readTimeout");
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(4));
    EXPECT_FALSE(connection->isActive());
    try {
        runWithDeadline(pool.executor(), connection->objects()->makeAsyncIterator().next());
        ADD_FAILURE() << "the stream did not fail";
    } catch (const OSCConnectionError& e) {
        EXPECT_EQ(e.errorCase(), OSCConnectionError::Case::couldNotParseOSC);
        EXPECT_EQ(e.data(), malformed);
    }

    // Later datagrams of that peer are still dispatched, no longer published;
    // other peers are unaffected.
    auto later = server->objects()->makeAsyncIterator();
    broken.send(port, message("/broken/later"));
    healthy.send(port, message("/healthy"));
    auto next = runWithDeadline(pool.executor(), take(std::move(later), 1));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(addressOf(next[0]), "/healthy");
    EXPECT_EQ(dispatched.waitFor(1), std::vector<std::string>{"/broken/later"});
}

TEST_F(ServerTest, RandomDatagramsFromManyPeersLeaveTheServerServing) {
    std::mt19937 random(7);
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 8; ++i) peers.push_back(std::make_unique<Peer>());
    testing::internal::CaptureStdout();
    for (int i = 0; i < 400; ++i) {
        std::vector<std::uint8_t> bytes(random() % 64);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        if (!bytes.empty()) bytes[0] = "/#x"[random() % 3];
        if (bytes.size() > 8 && bytes[0] == '#') std::memcpy(bytes.data(), "#bundle", 8);
        peers[random() % peers.size()]->send(port, bytes);
    }
    auto objects = server->objects()->makeAsyncIterator();
    Peer healthy;
    healthy.send(port, message("/still/here"));
    bool found = false;
    while (!found) {
        auto next = runWithDeadline(pool.executor(), objects.next());
        ASSERT_TRUE(next);
        found = (*next)->endpoint()->port == healthy.port();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(server->isConnected());
}

TEST_F(ServerTest, ThrowingDelegateAndCallbacksDoNotStopReceiving) {
    events->onConnection = [](const std::shared_ptr<OSCConnection>& connection) {
        connection->dispatcher().addCallback(*OSCAddressPattern::make("/x"),
                                             [](const OSCAddressPattern&, const OSCMessage&) -> void {
                                                 throw std::runtime_error("callback");
                                             });
        throw std::runtime_error("delegate");
    };
    auto objects = server->objects()->makeAsyncIterator();
    Peer peer;
    peer.send(port, message("/x"));
    peer.send(port, message("/x"));
    EXPECT_EQ(runWithDeadline(pool.executor(), take(std::move(objects), 2)).size(), 2u);
}

TEST_F(ServerTest, SilentPeersAreForgottenAndMakeRoomForNewOnes) {
    server->setPeerIdleTime(std::chrono::seconds(1));
    std::vector<std::unique_ptr<Peer>> peers;
    for (std::size_t i = 0; i <= OSCServer::maxConnections; ++i) peers.push_back(std::make_unique<Peer>());
    testing::internal::CaptureStdout();
    auto objects = server->objects()->makeAsyncIterator();
    for (auto& peer : peers) peer->send(port, message("/hi"));
    peers.front()->send(port, message("/known/peer"));
    // Everything up to the known peer's second datagram went through first.
    auto received = runWithDeadline(pool.executor(), take(std::move(objects), OSCServer::maxConnections + 1));
    auto printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(received.size(), OSCServer::maxConnections + 1);
    EXPECT_EQ(addressOf(received.back()), "/known/peer");
    EXPECT_NE(printed.find("ignoring new ones"), std::string::npos);
    auto connections = server->connections();
    ASSERT_EQ(connections.size(), OSCServer::maxConnections);

    // The first peer keeps talking while the others fall silent; the last of
    // them to have spoken is forgotten last.
    auto chatty = connections.front();
    auto lastQuiet = connections.back()->objects()->makeAsyncIterator();
    auto forgotten = asio::co_spawn(pool.executor(), lastQuiet.next(), asio::use_future);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        peers.front()->send(port, message("/still/here"));
    } while (forgotten.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready &&
             std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(forgotten.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(forgotten.get().has_value());  // its stream ended
    auto remaining = server->connections();
    ASSERT_EQ(remaining.size(), 1u);
    EXPECT_EQ(remaining[0], chatty);

    // The peer that found no room is taken now; a forgotten one comes back as new.
    peers.back()->send(port, message("/late"));
    peers[1]->send(port, message("/back"));
    ASSERT_TRUE(events->waitFor("connection", OSCServer::maxConnections + 2));
    EXPECT_EQ(server->connections().size(), 3u);
}

TEST_F(ServerTest, IPv6LoopbackPeersAndClients) {
    {
        asio::io_context io;
        asio::ip::udp::socket probe(io);
        std::error_code ec;
        probe.open(asio::ip::udp::v6(), ec);
        if (!ec) probe.bind({asio::ip::make_address("::1"), 0}, ec);
        if (ec) GTEST_SKIP() << "no IPv6 loopback here";
    }
    auto objects = server->objects()->makeAsyncIterator();
    Peer peer("::1");
    peer.send(port, message("/six"));
    OSCClient client("::1", port, pool.makeStrand());
    client.sendMessage(message("/client/six"), 0);
    auto received = runWithDeadline(pool.executor(), take(std::move(objects), 2));
    ASSERT_EQ(received.size(), 2u);
    for (const auto& object : received) EXPECT_EQ(object->endpoint()->host, "::1");
}

TEST_F(ServerTest, LargestDatagramsArriveWhole) {
    auto objects = server->objects()->makeAsyncIterator();
    std::vector<std::uint8_t> payload(65'400);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    auto big = message("/big", {OSCValue::blob(payload)});
    ASSERT_GT(big.oscSize(), 65'400u);
    Peer peer;
    peer.send(port, big);
    auto received = runWithDeadline(pool.executor(), take(std::move(objects), 1));
    ASSERT_EQ(received.size(), 1u);
    auto blob = received[0]->message()->values()[0].asData();
    ASSERT_TRUE(blob);
    EXPECT_TRUE(std::equal(blob->begin(), blob->end(), payload.begin(), payload.end()));
}

TEST_F(ServerTest, BurstOfAThousandKilobyteDatagramsArrivesWhole) {
    constexpr std::size_t count = 1000;
    auto objects = server->objects()->makeAsyncIterator();
    Peer peer;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::uint8_t> payload(1000 - 32, static_cast<std::uint8_t>(i));
        peer.send(port, message("/burst", {OSCValue(static_cast<std::int32_t>(i)), OSCValue::blob(payload)}));
    }
    auto received =
        runWithDeadline(pool.executor(), take(std::move(objects), count), std::chrono::seconds(30));
    ASSERT_EQ(received.size(), count);
    // Every object views its own datagram's buffer, which no later receive may reuse.
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(received[i]->message()->values()[0].asInt32(), static_cast<std::int32_t>(i));
        auto blob = *received[i]->message()->values()[1].asData();
        ASSERT_TRUE(std::all_of(blob.begin(), blob.end(), [&](auto b) { return b == std::uint8_t(i); }));
    }
}

// Keeps a strand busy from the moment it is entered until `open`.
class Busy {
  public:
    explicit Busy(const Strand& strand) : state_(std::make_shared<State>()) {
        asio::post(strand, [state = state_] {
            std::unique_lock lock(state->mutex);
            state->entered = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->open; });
        });
        std::unique_lock lock(state_->mutex);
        state_->changed.wait(lock, [this] { return state_->entered; });
    }
    ~Busy() { open(); }
    void open() {
        std::lock_guard lock(state_->mutex);
        state_->open = true;
        state_->changed.notify_all();
    }

  private:
    // Shared with the job, which wakes up after `open` and may outlive this.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false;
        bool open = false;
    };
    std::shared_ptr<State> state_;
};

// A burst of a few thousand datagrams while every consumer is slow: the
// server's strand is busy while it arrives, the reader of the announcement is
// busy until all of it has been taken in (so the server holds it), and the
// readers of the streams read only at the end. Nothing is lost or reordered.
TEST(ServerBurstTest, SlowConsumersLoseNothing) {
    constexpr std::int32_t count = 2000;
    IoPool pool{3};
    auto serverQueue = pool.makeStrand();
    auto readerQueue = pool.makeStrand();
    auto events = std::make_shared<ServerEvents>();
    auto server = std::make_shared<OSCServer>(0, events, serverQueue);
    server->start();
    auto port = *server->localPort();
    auto objects = server->objects()->makeAsyncIterator();
    Inbox<std::int32_t> dispatched;

    auto busyReader = std::make_unique<Busy>(readerQueue);
    auto wait = server->waitForConnection(60 * kSecond);
    auto announced = asio::co_spawn(
        readerQueue,
        [](Task<std::shared_ptr<OSCConnection>> wait,
           Inbox<std::int32_t>* dispatched) -> Task<std::optional<AsyncIterator<OSCObjectPtr>>> {
            auto connection = co_await std::move(wait);
            connection->dispatcher().addCallback(*OSCAddressPattern::make("/burst"),
                                                 [dispatched](const OSCAddressPattern&, const OSCMessage& m) {
                                                     dispatched->put(*m.values()[0].asInt32());
                                                 });
            co_return std::optional(connection->objects()->makeAsyncIterator());
        }(std::move(wait), &dispatched),
        asio::use_future);

    std::vector<std::uint8_t> payload(1000, 0x5A);
    Peer burst, marker;
    {
        Busy busyServer(serverQueue);
        for (std::int32_t i = 0; i < count; ++i)
            burst.send(port, message("/burst", {OSCValue(i), OSCValue::blob(payload)}));
        marker.send(port, message("/marker"));
    }
    // The marker's peer is announced once the whole burst has been taken in.
    ASSERT_TRUE(events->waitFor("connection", 2));
    busyReader->open();
    ASSERT_EQ(announced.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    auto connectionObjects = announced.get();
    ASSERT_TRUE(connectionObjects);

    auto indices = [](const std::vector<OSCObjectPtr>& all) {
        std::vector<std::int32_t> out;
        for (const auto& object : all)
            if (object->message()->address().address() == "/burst")
                out.push_back(*object->message()->values()[0].asInt32());
        return out;
    };
    std::vector<std::int32_t> expected(count);
    for (std::int32_t i = 0; i < count; ++i) expected[i] = i;
    auto all =
        runWithDeadline(pool.executor(), take(std::move(objects), count + 1), std::chrono::seconds(30));
    EXPECT_EQ(indices(all), expected);
    auto own = runWithDeadline(pool.executor(), take(std::move(*connectionObjects), count),
                               std::chrono::seconds(30));
    EXPECT_EQ(indices(own), expected);
    EXPECT_EQ(dispatched.waitFor(count, std::chrono::seconds(30)), expected);
    server->cancel();
}

}  // namespace
}  // namespace zelto::test
