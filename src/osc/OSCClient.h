#pragma once

// Sends OSC messages and bundles as UDP datagrams.
//
// Threading: the send operations may be called from any thread and return at
// once; the datagram goes out on the client's strand (`queue()`, given or made
// on `IoPool::shared()`), and a failure reaches the delegate's
// `clientDidFailSending`, posted to that strand. Sends never throw for network
// failures. The client never binds a fixed port.
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "async/Executor.h"
#include "osc/AsyncUdpSocket.h"
#include "osc/OSCObject.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {

class OSCClientDelegate {
  public:
    virtual ~OSCClientDelegate() = default;
    virtual void clientDidFailSending(std::exception_ptr error) = 0;
};

class OSCClient {
  public:
    // Enables broadcast; throws the socket layer's AsyncUdpSocketError if that fails.
    OSCClient(std::string host, std::uint16_t port, std::optional<Strand> queue = std::nullopt,
              std::weak_ptr<OSCClientDelegate> delegate = {});
    ~OSCClient();
    OSCClient(const OSCClient&) = delete;
    OSCClient& operator=(const OSCClient&) = delete;

    // Time-outs in nanoseconds, rounded down to whole seconds: below one
    // second means none.
    void sendMessage(const OSCMessage& message, std::uint64_t timeout);
    void sendBundle(const OSCBundle& bundle, std::uint64_t timeout);
    void sendMessage(const OSCMessage& message, const std::string& host, std::uint16_t port,
                     std::uint64_t timeout);
    void sendBundle(const OSCBundle& bundle, const std::string& host, std::uint16_t port,
                    std::uint64_t timeout);

    const std::string& host() const noexcept { return host_; }
    std::uint16_t port() const noexcept { return port_; }
    const Strand& queue() const noexcept { return queue_; }
    // "OSCClient " + host + ":" + port: the name of the client's queue.
    std::string queueLabel() const;

    void setDelegate(std::weak_ptr<OSCClientDelegate> delegate);
    std::shared_ptr<OSCClientDelegate> delegate() const;

  private:
    struct SocketEvents;
    void send(std::vector<std::uint8_t> bytes, const std::string& host, std::uint16_t port,
              std::uint64_t timeout);

    std::string host_;
    std::uint16_t port_;
    Strand queue_;
    std::shared_ptr<SocketEvents> events_;
    std::shared_ptr<AsyncUdpSocket> socket_;
};

}  // namespace zelto
