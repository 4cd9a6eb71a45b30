#include "osc/OSCServer.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <stdexcept>

#include "async/Log.h"
#include "async/MonotonicClock.h"
#include "async/Timeout.h"

namespace zelto {

namespace {

using ConnectionStream = SharedAsyncSequence<std::shared_ptr<OSCConnection>>;
using Announcement = std::pair<std::shared_ptr<OSCConnection>, std::shared_ptr<void>>;

Executor taskExecutorFor(const std::optional<Strand>& queue) {
    return queue ? queue->get_inner_executor() : IoPool::shared().executor();
}

// Holds the new connection's datagrams back until the waiter's caller has run
// to its next suspension.
Task<std::shared_ptr<OSCConnection>> handOver(Task<Announcement> wait) {
    auto announcement = co_await std::move(wait);
    if (announcement.second) {
        auto executor = co_await asio::this_coro::executor;
        asio::post(executor, [ticket = std::move(announcement.second)] {});
    }
    co_return std::move(announcement.first);
}

}  // namespace

// Released by every reader that received the announcement: then the held
// datagrams of the connection are handed over, on the server's strand.
// The first connection announced that was created after the first `madeBefore`.
Task<std::optional<Announcement>> OSCServer::nextConnection(
    AsyncIterator<std::shared_ptr<OSCConnection>> connections, std::uint64_t madeBefore) {
    while (true) {
        auto next = connections.nextKeepingTicket();
        auto [connection, ticket] = co_await std::move(next);
        if (!connection) co_return std::nullopt;
        if ((*connection)->serial_ <= madeBefore) continue;
        co_return Announcement(std::move(*connection), std::move(ticket));
    }
}

struct OSCServer::Gate {
    Gate(std::weak_ptr<OSCServer> server, std::shared_ptr<OSCConnection> connection, Strand queue)
        : server(std::move(server)), connection(std::move(connection)), queue(std::move(queue)) {}
    ~Gate() {
        if (server.expired()) return;  // also the case while a pool shuts down after its servers
        asio::post(queue, [server = std::move(server), connection = std::move(connection)] {
            if (auto self = server.lock()) self->releaseHeld(connection);
        });
    }
    std::weak_ptr<OSCServer> server;
    std::shared_ptr<OSCConnection> connection;
    Strand queue;
};

OSCServer::OSCServer(std::uint16_t port, std::weak_ptr<OSCServerDelegate> delegate,
                     std::optional<Strand> queue, OSCDecoderFunction decoderType,
                     std::optional<std::string> interface, std::shared_ptr<MemoryBudget> receiveBudget)
    : OSCMessageProvider(taskExecutorFor(queue), std::move(receiveBudget)),
      port_(port),
      interface_(std::move(interface)),
      decoderType_(decoderType ? decoderType : decoderFunction<OSCStandardDecoder>()),
      queue_(queue ? *queue : makeStrand(taskExecutor())),
      delegate_(std::move(delegate)),
      serverObjects_(replaceObjects(description())) {}

OSCServer::~OSCServer() {
    std::shared_ptr<AsyncUdpSocket> listener;
    std::vector<std::shared_ptr<OSCConnection>> ended;
    {
        std::lock_guard lock(mutex_);
        listener = std::move(listener_);
        stopLocked(ended);
    }
    if (listener) listener->close();
}

OSCServer& OSCServer::start(std::uint64_t) {
    std::lock_guard lock(mutex_);
    if (listener_) throw OSCServerError(OSCServerError::Case::serverAlreadyStarted);
    auto self = weak_from_this();
    if (self.expired()) throw std::logic_error("an OSCServer must be owned by a std::shared_ptr");
    listener_ = AsyncUdpSocket::make(self, queue_);
    listener_->enableReusePort(true);
    listener_->bindToPort(port_, interface_);
    StreamLimits<std::shared_ptr<OSCConnection>> announcements;
    announcements.early = 0;
    announcements.unread = queueLimit;
    announcements.label = description() + " connections";
    connectionStream_ = ConnectionStream(std::move(announcements));
    serverObjects_ = replaceObjects(description());
    lastConnection_.reset();
    listener_->beginReceiving();
    sweepTimer_ = std::make_unique<asio::steady_timer>(queue_);
    armSweepLocked();
    return *this;
}

void OSCServer::setPeerIdleTime(std::chrono::steady_clock::duration idleTime) {
    std::lock_guard lock(mutex_);
    peerIdleTime_ = idleTime;
    if (sweepTimer_) armSweepLocked();
}

std::chrono::steady_clock::duration OSCServer::peerIdleTime() const {
    std::lock_guard lock(mutex_);
    return peerIdleTime_;
}

// Under mutex_, while listening.
void OSCServer::armSweepLocked() {
    if (peerIdleTime_ <= std::chrono::steady_clock::duration::zero()) {
        sweepTimer_->cancel();
        return;
    }
    // A forgotten peer has been silent for between one and one and a half idle times.
    sweepTimer_->expires_after(
        std::max<std::chrono::steady_clock::duration>(peerIdleTime_ / 2, std::chrono::milliseconds(1)));
    sweepTimer_->async_wait([weak = weak_from_this()](std::error_code ec) {
        if (ec) return;
        if (auto self = weak.lock()) self->forgetSilentPeers();
    });
}

// On the strand, where connections are stamped with their last datagram.
void OSCServer::forgetSilentPeers() {
    std::vector<std::shared_ptr<OSCConnection>> forgotten;  // finished outside the lock
    {
        std::lock_guard lock(mutex_);
        if (!sweepTimer_) return;
        auto now = monotonicNanoseconds();
        auto idle = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(peerIdleTime_).count());
        std::erase_if(connections_, [&](const std::shared_ptr<OSCConnection>& connection) {
            if (now - connection->lastReceived_ < idle) return false;
            forgotten.push_back(connection);
            return true;
        });
        if (!forgotten.empty()) {
            lastConnection_.reset();
            reportedFull_ = false;
        }
        armSweepLocked();
    }
    for (auto& connection : forgotten) connection->finish();
}

void OSCServer::stopLocked(std::vector<std::shared_ptr<OSCConnection>>& ended) {
    if (connectionStream_) connectionStream_->finish();
    if (serverObjects_) serverObjects_->finish();
    ended.swap(connections_);
    for (auto& connection : ended) connection->finish();
    lastConnection_.reset();
    reportedFull_ = false;
    sweepTimer_.reset();
}

void OSCServer::cancel() {
    std::shared_ptr<AsyncUdpSocket> listener;
    std::vector<std::shared_ptr<OSCConnection>> ended;  // released outside the lock
    {
        std::lock_guard lock(mutex_);
        listener = std::move(listener_);
        stopLocked(ended);
    }
    if (listener) listener->close();
}

bool OSCServer::isConnected() const {
    std::lock_guard lock(mutex_);
    return listener_ != nullptr;
}

Task<std::shared_ptr<OSCConnection>> OSCServer::waitForConnection(std::optional<std::uint64_t> timeout) {
    ConnectionStream source(0, 1);
    if (auto stream = connectionStream())
        source = *stream;
    else
        source.finish();
    // Subscribed first: a connection made after `madeBefore` is read is announced to this reader. One
    // made before, whose announcement may still be on its way, is not what the caller waits for.
    auto connections = source.makeAsyncIterator();
    std::uint64_t madeBefore;
    {
        std::lock_guard lock(mutex_);
        madeBefore = connectionsMade_;
    }
    auto work = nextConnection(std::move(connections), madeBefore);
    auto wait = withCheckedThrowingContinuation<Announcement>(
        "waitForConnection(timeout:)", timeout, OSCServerError(OSCServerError::Case::serverStopped),
        OSCServerError(OSCServerError::Case::connectionTimeout), std::move(work), taskExecutor());
    return handOver(std::move(wait));
}

std::optional<SharedAsyncSequence<std::shared_ptr<OSCConnection>>> OSCServer::connectionStream() const {
    std::lock_guard lock(mutex_);
    return connectionStream_;
}

std::vector<std::shared_ptr<OSCConnection>> OSCServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void OSCServer::setDelegate(std::weak_ptr<OSCServerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<OSCServerDelegate> OSCServer::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::optional<std::uint16_t> OSCServer::localPort() const {
    std::shared_ptr<AsyncUdpSocket> listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    return listener ? listener->localPort() : std::nullopt;
}

std::string OSCServer::queueLabel() const {
    return "OSCServer " + std::to_string(port_);
}

std::string OSCServer::description() const {
    return "OSCServer@" + std::to_string(port_) + ":" + interface_.value_or("");
}

// Under mutex_.
std::shared_ptr<OSCConnection> OSCServer::connectionFor(const asio::ip::udp::endpoint& address, bool& isNew) {
    isNew = false;
    if (lastConnection_ && address == lastAddress_) return lastConnection_;
    auto host = AsyncUdpSocket::hostFromAddress(address);
    if (!host) return nullptr;
    auto port = AsyncUdpSocket::portFromAddress(address);
    std::shared_ptr<OSCConnection> found;
    for (const auto& connection : connections_) {
        if (connection->endpoint().host == *host && connection->endpoint().port == port) {
            found = connection;
            break;
        }
    }
    if (!found) {
        if (connections_.size() >= maxConnections) {
            if (!reportedFull_)
                logFormat(LogCategory::osc, LogLevel::warning, "%s: %zu peers, ignoring new ones",
                          description().c_str(), maxConnections);
            reportedFull_ = true;
            return nullptr;
        }
        found = std::make_shared<OSCConnection>(OSCEndpoint{*host, port}, decoderType_, taskExecutor(),
                                                receiveBudget());
        found->serial_ = ++connectionsMade_;
        connections_.push_back(found);
        isNew = true;
    }
    lastAddress_ = address;
    lastConnection_ = found;
    return found;
}

void OSCServer::didReceiveData(AsyncUdpSocket& socket, std::span<const std::uint8_t> data,
                               const asio::ip::udp::endpoint& address) {
    auto receiveTime = monotonicNanoseconds();
    std::shared_ptr<OSCConnection> connection;
    bool isNew = false;
    std::shared_ptr<OSCServerDelegate> delegate;
    std::optional<ConnectionStream> announce;
    std::optional<SharedAsyncSequence<OSCObjectPtr>> objects;
    {
        std::lock_guard lock(mutex_);
        if (listener_.get() != &socket) return;
        connection = connectionFor(address, isNew);
        if (!connection) return;
        connection->lastReceived_ = receiveTime;
        objects = serverObjects_;
        if (isNew) {
            delegate = delegate_.lock();
            announce = connectionStream_;
        }
    }
    if (isNew) {
        if (delegate) {
            try {
                delegate->newConnectionEstablished(connection);
            } catch (const std::exception& e) {
                logFormat(LogCategory::osc, LogLevel::warning, "newConnectionEstablished failed: %s",
                          e.what());
            } catch (...) {
                logLine(LogCategory::osc, LogLevel::warning, "newConnectionEstablished failed");
            }
        }
        if (announce) {
            if (announce->readerCount() > 0) {
                connection->hold();
                announce->yield(connection, std::make_shared<Gate>(weak_from_this(), connection, queue_));
            } else {
                announce->yield(connection);
            }
        }
    }
    if (connection->held()) {
        connection->keep(data, receiveTime);
        return;
    }
    deliver(connection, data, receiveTime, objects);
}

// On the strand. `objects` is the server's stream of the session that the
// connection belongs to, taken with the connection, so that nothing of an
// earlier session reaches the stream of a later one.
void OSCServer::deliver(const std::shared_ptr<OSCConnection>& connection, std::span<const std::uint8_t> data,
                        std::uint64_t receiveTime,
                        const std::optional<SharedAsyncSequence<OSCObjectPtr>>& objects) {
    std::size_t footprint = 0;
    auto published = connection->handleDatagram(data, receiveTime, footprint);
    if (published && objects) objects->yieldWeighed(std::move(published), footprint);
}

void OSCServer::releaseHeld(const std::shared_ptr<OSCConnection>& connection) {
    auto held = connection->release();
    std::optional<SharedAsyncSequence<OSCObjectPtr>> objects;
    bool current;
    {
        std::lock_guard lock(mutex_);
        current = std::find(connections_.begin(), connections_.end(), connection) != connections_.end();
        objects = serverObjects_;
    }
    // Each one leaves the budget as it moves on into the queues it reaches.
    try {
        for (; !held.empty(); held.pop_front()) {
            auto& datagram = held.front();
            if (current) deliver(connection, datagram.bytes, datagram.receiveTime, objects);
            connection->handed(datagram);
        }
    } catch (...) {
        for (const auto& datagram : held) connection->handed(datagram);
        throw;
    }
}

void OSCServer::didNotSendDataWithTag(AsyncUdpSocket&, long, std::exception_ptr) {}

void OSCServer::udpSocketDidClose(AsyncUdpSocket& socket, std::exception_ptr error) {
    bool current;
    {
        std::lock_guard lock(mutex_);
        current = listener_.get() == &socket;
    }
    if (current) cancel();
    asio::post(queue_, [weak = weak_from_this(), error] {
        auto self = weak.lock();
        if (!self) return;
        if (auto delegate = self->delegate()) {
            try {
                delegate->serverDidStop(error);
            } catch (const std::exception& e) {
                logFormat(LogCategory::osc, LogLevel::warning, "serverDidStop failed: %s", e.what());
            } catch (...) {
                logLine(LogCategory::osc, LogLevel::warning, "serverDidStop failed");
            }
        }
    });
}

}  // namespace zelto
