#include "osc/OSCClient.h"

#include <asio/post.hpp>

namespace zelto {

// Receives the socket's reports and forwards send failures to the delegate.
struct OSCClient::SocketEvents : AsyncUdpSocketDelegate {
    explicit SocketEvents(std::weak_ptr<OSCClientDelegate> delegate, Strand queue)
        : delegate(std::move(delegate)), queue(std::move(queue)) {}

    void didReceiveData(AsyncUdpSocket&, std::span<const std::uint8_t>,
                        const asio::ip::udp::endpoint&) override {}
    void udpSocketDidClose(AsyncUdpSocket&, std::exception_ptr) override {}
    void didNotSendDataWithTag(AsyncUdpSocket&, long, std::exception_ptr error) override {
        std::shared_ptr<OSCClientDelegate> target;
        {
            std::lock_guard lock(mutex);
            target = delegate.lock();
        }
        if (!target) return;
        asio::post(queue, [target, error] { target->clientDidFailSending(error); });
    }

    std::mutex mutex;
    std::weak_ptr<OSCClientDelegate> delegate;
    Strand queue;
};

OSCClient::OSCClient(std::string host, std::uint16_t port, std::optional<Strand> queue,
                     std::weak_ptr<OSCClientDelegate> delegate)
    : host_(std::move(host)),
      port_(port),
      queue_(queue ? *queue : makeStrand(IoPool::shared().executor())),
      events_(std::make_shared<SocketEvents>(std::move(delegate), queue_)),
      socket_(AsyncUdpSocket::make(events_, queue_)) {
    socket_->enableBroadcast(true);
}

OSCClient::~OSCClient() {
    socket_->close();
}

void OSCClient::send(std::vector<std::uint8_t> bytes, const std::string& host, std::uint16_t port,
                     std::uint64_t timeout) {
    // Whole seconds only: anything below one second means no time-out.
    auto seconds = static_cast<double>(timeout / 1'000'000'000ull);
    socket_->sendData(std::move(bytes), host, port, seconds, 0);
}

void OSCClient::sendMessage(const OSCMessage& message, std::uint64_t timeout) {
    send(message.encode(), host_, port_, timeout);
}

void OSCClient::sendBundle(const OSCBundle& bundle, std::uint64_t timeout) {
    send(bundle.encode(), host_, port_, timeout);
}

void OSCClient::sendMessage(const OSCMessage& message, const std::string& host, std::uint16_t port,
                            std::uint64_t timeout) {
    send(message.encode(), host, port, timeout);
}

void OSCClient::sendBundle(const OSCBundle& bundle, const std::string& host, std::uint16_t port,
                           std::uint64_t timeout) {
    send(bundle.encode(), host, port, timeout);
}

std::string OSCClient::queueLabel() const {
    return "OSCClient " + host_ + ":" + std::to_string(port_);
}

void OSCClient::setDelegate(std::weak_ptr<OSCClientDelegate> delegate) {
    std::lock_guard lock(events_->mutex);
    events_->delegate = std::move(delegate);
}

std::shared_ptr<OSCClientDelegate> OSCClient::delegate() const {
    std::lock_guard lock(events_->mutex);
    return events_->delegate.lock();
}

}  // namespace zelto
