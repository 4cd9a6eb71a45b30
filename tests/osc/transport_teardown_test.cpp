// Ending servers, clients, device sessions and discovery while their reads,
// waits and timers are pending, then the pool they run on: the way the
// command-line tool ends.
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/use_future.hpp>
#include <future>

#include "async/Executor.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "osc/OSCClient.h"
#include "osc/OSCConnection.h"
#include "osc/OSCMessage.h"
#include "osc/OSCServer.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kMinute = 60'000'000'000ull;

template <class T>
std::future<T> start(IoPool& pool, Task<T> task) {
    return asio::co_spawn(pool.executor(), std::move(task), asio::use_future);
}

// True when the wait ends with an `Error`; a value or another error is false.
template <class Error, class T>
Task<bool> endsWith(Task<T> wait) {
    try {
        co_await std::move(wait);
    } catch (const Error&) {
        co_return true;
    } catch (...) {
    }
    co_return false;
}

template <class Error, class T>
std::future<bool> startEnding(IoPool& pool, Task<T> wait) {
    return start(pool, endsWith<Error>(std::move(wait)));
}

TEST(Teardown, EverythingPendingEndsAndThePoolRunsOutOfWork) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto pool = std::make_unique<IoPool>(2);

        auto server = std::make_shared<OSCServer>(0, std::weak_ptr<OSCServerDelegate>(), pool->makeStrand());
        server->start();
        auto port = server->localPort();
        ASSERT_TRUE(port);
        auto client = std::make_shared<OSCClient>("127.0.0.1", *port, pool->makeStrand());
        auto connection = start(*pool, server->waitForConnection(kMinute));
        client->sendMessage(*OSCMessage::make("/hello", {}), 1'000'000'000);
        auto peer = connection.wait_for(20s) == std::future_status::ready ? connection.get() : nullptr;
        ASSERT_TRUE(peer);
        auto peerRead = startEnding<OSCConnectionError>(*pool, peer->readMessage("/never", kMinute, true));
        auto serverRead =
            startEnding<OSCConnectionError>(*pool, server->readMessage("/never", kMinute, true));
        auto secondPeer = start(*pool, server->waitForConnection(kMinute));

        // Nobody answers at this address: the session's connect stays pending.
        // It runs on a strand up to its wait before the no-op queued behind it.
        auto device = ZeltoDevice::make(pool->context(), {"127.0.0.9", 9110}, 9112, std::nullopt);
        std::future<void> connect;
        {
            auto strand = pool->makeStrand();
            connect = asio::co_spawn(strand, device->connect(kMinute), asio::use_future);
            blockOn(strand, []() -> Task<void> { co_return; }());
        }
        ASSERT_TRUE(device->connected());
        auto discoverer = std::make_unique<ZeltoDiscoverer>(pool->context(), pool->makeStrand());
        discoverer->setListenPort(0);
        discoverer->setUnicastHosts({"127.0.0.9"});
        discoverer->start(kMinute);
        discoverer->discover();

        discoverer->stop();
        device->disconnect();
        server->cancel();
        client.reset();
        peer.reset();
        EXPECT_TRUE(pool->drain(20s)) << "work was left on the pool after everything ended";
        EXPECT_THROW(connect.get(), ZeltoDeviceError);
        EXPECT_TRUE(peerRead.get());
        EXPECT_TRUE(serverRead.get());
        EXPECT_THROW(secondPeer.get(), OSCServerError);
        // Timers and sockets go before the pool whose services they use.
        discoverer.reset();
        device.reset();
        server.reset();
        pool.reset();
    }
}

}  // namespace
}  // namespace zelto
