#pragma once

// Listens on a UDP port, decodes every datagram, keeps one OSCConnection per
// remote endpoint and publishes every received object.
//
// Threading model:
// * The server has one strand, `queue()` (given, or made on the shared pool
//   `IoPool::shared()` when none is given). Socket callbacks, decoding,
//   connection creation, publishing and delegate calls all run on it, one
//   datagram at a time in arrival order.
// * `start`, `cancel`, `isConnected`, `connections` may be called from any
//   thread, the delegate's callbacks included.
// * `newConnectionEstablished` is called synchronously on the strand before
//   the connection is announced on `connectionStream` and before its first
//   datagram is handed over (see OSCConnection.h); `serverDidStop` is posted to
//   the strand after the socket closed.
// * Waits are coroutines: `co_await server->waitForConnection(timeout)`.
// * Received objects reach `objects()` of the server (every peer, in arrival
//   order) and of their connection (that peer only). Neither keeps anything
//   for readers that have not subscribed yet.
// * A peer silent for the peer idle time is forgotten: its connection ends
//   (reads pending on it end with connectionCanceled) and leaves
//   `connections`; when it speaks again it is a new connection.
//
// Create it with std::make_shared: the socket layer refers back to it weakly.
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "async/Executor.h"
#include "async/SharedAsyncSequence.h"
#include "osc/AsyncUdpSocket.h"
#include "osc/OSCConnection.h"
#include "osc/OSCDecoder.h"
#include "osc/OSCMessageProvider.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {

class OSCServerDelegate {
  public:
    virtual ~OSCServerDelegate() = default;
    virtual void serverDidStop(std::exception_ptr error) = 0;
    virtual void newConnectionEstablished(std::shared_ptr<OSCConnection> connection) = 0;
};

class OSCServer : public OSCMessageProvider,
                  public AsyncUdpSocketDelegate,
                  public std::enable_shared_from_this<OSCServer> {
  public:
    // Peers known at once. While that many have spoken within the idle time,
    // datagrams from further new peers are dropped (and logged once).
    static constexpr std::size_t maxConnections = 256;
    static constexpr std::chrono::steady_clock::duration defaultPeerIdleTime = std::chrono::minutes(5);

    // Nothing is bound until `start`. The delegate is held weakly. The queues
    // of the server and of all its connections share `receiveBudget`, or
    // OSCMessageProvider::sharedReceiveBudget when none is given.
    explicit OSCServer(std::uint16_t port, std::weak_ptr<OSCServerDelegate> delegate = {},
                       std::optional<Strand> queue = std::nullopt,
                       OSCDecoderFunction decoderType = decoderFunction<OSCStandardDecoder>(),
                       std::optional<std::string> interface = std::nullopt,
                       std::shared_ptr<MemoryBudget> receiveBudget = nullptr);
    ~OSCServer() override;

    // Binds (SO_REUSEPORT) and begins receiving; fresh connection and objects
    // streams. Throws OSCServerError::serverAlreadyStarted, or the socket
    // layer's AsyncUdpSocketError (the listener then stays set: cancel first).
    // The time-out is not used.
    OSCServer& start(std::uint64_t timeout = 0);
    // Closes the socket, ends the streams of the server and of every
    // connection, forgets the connections. Reads pending on them end with
    // connectionCanceled. Then `serverDidStop` with no error.
    void cancel();
    bool isConnected() const;

    // How long a peer may be silent before it is forgotten; zero or less keeps
    // peers until `cancel`. Takes effect at once.
    void setPeerIdleTime(std::chrono::steady_clock::duration idleTime);
    std::chrono::steady_clock::duration peerIdleTime() const;

    // The next connection that appears after the call, never one that
    // connected before it. Throws
    // OSCServerError::serverStopped when the server is cancelled first (or was
    // not started), connectionTimeout when the time-out passes first.
    Task<std::shared_ptr<OSCConnection>> waitForConnection(std::optional<std::uint64_t> timeout);

    // The stream of new connections; none before the first start.
    std::optional<SharedAsyncSequence<std::shared_ptr<OSCConnection>>> connectionStream() const;
    std::vector<std::shared_ptr<OSCConnection>> connections() const;

    void setDelegate(std::weak_ptr<OSCServerDelegate> delegate);
    std::shared_ptr<OSCServerDelegate> delegate() const;

    std::uint16_t port() const noexcept { return port_; }
    // The bound port while listening (useful with port 0).
    std::optional<std::uint16_t> localPort() const;
    const std::optional<std::string>& interface() const noexcept { return interface_; }
    OSCDecoderFunction decoderType() const noexcept { return decoderType_; }
    const Strand& queue() const noexcept { return queue_; }
    // "OSCServer " + port: the name of the server's queue.
    std::string queueLabel() const;
    // "OSCServer@" + port + ":" + interface (empty when none).
    std::string description() const;

    // Socket callbacks, on `queue`.
    void didReceiveData(AsyncUdpSocket& socket, std::span<const std::uint8_t> data,
                        const asio::ip::udp::endpoint& address) override;
    void didNotSendDataWithTag(AsyncUdpSocket& socket, long tag, std::exception_ptr error) override;
    void udpSocketDidClose(AsyncUdpSocket& socket, std::exception_ptr error) override;

  private:
    struct Gate;
    // A new connection and the ticket that holds its datagrams back.
    static Task<std::optional<std::pair<std::shared_ptr<OSCConnection>, std::shared_ptr<void>>>>
    nextConnection(AsyncIterator<std::shared_ptr<OSCConnection>> connections, std::uint64_t madeBefore);
    std::shared_ptr<OSCConnection> connectionFor(const asio::ip::udp::endpoint& address, bool& isNew);
    void deliver(const std::shared_ptr<OSCConnection>& connection, std::span<const std::uint8_t> data,
                 std::uint64_t receiveTime, const std::optional<SharedAsyncSequence<OSCObjectPtr>>& objects);
    void releaseHeld(const std::shared_ptr<OSCConnection>& connection);
    void stopLocked(std::vector<std::shared_ptr<OSCConnection>>& ended);
    void armSweepLocked();
    void forgetSilentPeers();

    std::uint16_t port_;
    std::optional<std::string> interface_;
    OSCDecoderFunction decoderType_;
    Strand queue_;

    mutable std::mutex mutex_;
    std::weak_ptr<OSCServerDelegate> delegate_;
    std::shared_ptr<AsyncUdpSocket> listener_;
    std::vector<std::shared_ptr<OSCConnection>> connections_;
    std::optional<SharedAsyncSequence<std::shared_ptr<OSCConnection>>> connectionStream_;
    std::optional<SharedAsyncSequence<OSCObjectPtr>> serverObjects_;
    // The last sender, on `queue` only: most datagrams come from the peer before.
    asio::ip::udp::endpoint lastAddress_;
    std::shared_ptr<OSCConnection> lastConnection_;
    bool reportedFull_ = false;
    // Connections created so far, over every start.
    std::uint64_t connectionsMade_ = 0;
    std::chrono::steady_clock::duration peerIdleTime_ = defaultPeerIdleTime;
    // Runs forgetSilentPeers on `queue` while listening.
    std::unique_ptr<asio::steady_timer> sweepTimer_;
};

}  // namespace zelto
