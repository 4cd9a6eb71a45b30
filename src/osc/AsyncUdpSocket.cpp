#include "osc/AsyncUdpSocket.h"

#include <ifaddrs.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio/bind_executor.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cstring>

#include "async/Log.h"

namespace zelto {

namespace {

using asio::ip::udp;
using ReusePort = asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;

constexpr std::size_t ipv4 = 0;
constexpr std::size_t ipv6 = 1;
// Datagrams read per readiness notification before other work gets a turn.
constexpr int receiveBatch = 128;

const char* const unknownInterfaceText =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";

[[noreturn]] void fail(AsyncUdpSocketError::Case c, const char* text, std::error_code code = {}) {
    throw AsyncUdpSocketError(c, text, code);
}

struct InterfaceAddresses {
    bool hasV4 = false;
    bool hasV6 = false;
    asio::ip::address_v4 v4;
    asio::ip::address_v6 v6;
};

// The addresses to bind for an interface given by name or by address.
std::optional<InterfaceAddresses> interfaceAddresses(const std::string& interface) {
    std::error_code ec;
    auto address = asio::ip::make_address(interface, ec);
    if (!ec) {
        InterfaceAddresses out;
        if (address.is_v4()) {
            out.hasV4 = true;
            out.v4 = address.to_v4();
        } else {
            out.hasV6 = true;
            out.v6 = address.to_v6();
        }
        return out;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    InterfaceAddresses out;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || interface != entry->ifa_name) continue;
        if (entry->ifa_addr->sa_family == AF_INET && !out.hasV4) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            out.hasV4 = true;
            out.v4 = asio::ip::address_v4(ntohl(in->sin_addr.s_addr));
        } else if (entry->ifa_addr->sa_family == AF_INET6 && !out.hasV6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            asio::ip::address_v6::bytes_type bytes;
            std::memcpy(bytes.data(), in6->sin6_addr.s6_addr, bytes.size());
            out.hasV6 = true;
            out.v6 = asio::ip::address_v6(bytes, in6->sin6_scope_id);
        }
    }
    freeifaddrs(list);
    if (!out.hasV4 && !out.hasV6) return std::nullopt;
    return out;
}

}  // namespace

std::shared_ptr<AsyncUdpSocket> AsyncUdpSocket::make(std::weak_ptr<AsyncUdpSocketDelegate> delegate,
                                                     Strand queue) {
    return std::make_shared<AsyncUdpSocket>(std::move(delegate), std::move(queue));
}

AsyncUdpSocket::AsyncUdpSocket(std::weak_ptr<AsyncUdpSocketDelegate> delegate, Strand queue)
    : delegate_(std::move(delegate)), queue_(std::move(queue)) {}

AsyncUdpSocket::~AsyncUdpSocket() {
    std::error_code ignored;
    for (auto& socket : sockets_)
        if (socket) socket->close(ignored);
}

void AsyncUdpSocket::createSocketsLocked() {
    if (closed_) fail(AsyncUdpSocketError::Case::closed, "Socket closed");
    if (created_) return;
    std::error_code ec;
    sockets_[ipv4].emplace(queue_);
    sockets_[ipv4]->open(udp::v4(), ec);
    if (ec) {
        sockets_[ipv4].reset();
        fail(AsyncUdpSocketError::Case::badConfig, "Error in socket() function", ec);
    }
    sockets_[ipv6].emplace(queue_);
    sockets_[ipv6]->open(udp::v6(), ec);
    if (!ec) sockets_[ipv6]->set_option(asio::ip::v6_only(true), ec);
    if (ec) sockets_[ipv6].reset();  // no IPv6 here: IPv4 alone
    created_ = true;
}

void AsyncUdpSocket::enableBroadcast(bool flag) {
    std::lock_guard lock(mutex_);
    createSocketsLocked();
    if (!sockets_[ipv4]) return;
    std::error_code ec;
    sockets_[ipv4]->set_option(asio::socket_base::broadcast(flag), ec);
    if (ec) fail(AsyncUdpSocketError::Case::badConfig, "Error in setsockopt() function", ec);
}

void AsyncUdpSocket::enableReusePort(bool flag) {
    std::lock_guard lock(mutex_);
    createSocketsLocked();
    for (auto& socket : sockets_) {
        if (!socket) continue;
        std::error_code ec;
        socket->set_option(ReusePort(flag), ec);
        if (ec) fail(AsyncUdpSocketError::Case::badConfig, "Error in setsockopt() function", ec);
    }
}

void AsyncUdpSocket::bindToPort(std::uint16_t port, const std::optional<std::string>& interface) {
    std::lock_guard lock(mutex_);
    createSocketsLocked();
    InterfaceAddresses addresses{true, true, asio::ip::address_v4::any(), asio::ip::address_v6::any()};
    if (interface) {
        auto found = interfaceAddresses(*interface);
        if (!found) fail(AsyncUdpSocketError::Case::badParam, unknownInterfaceText);
        addresses = *found;
    }
    std::error_code ec;
    if (!addresses.hasV4 && sockets_[ipv4]) {
        sockets_[ipv4]->close(ec);
        sockets_[ipv4].reset();
    }
    if (!addresses.hasV6 && sockets_[ipv6]) {
        sockets_[ipv6]->close(ec);
        sockets_[ipv6].reset();
    }
    if (!sockets_[ipv4] && !sockets_[ipv6]) fail(AsyncUdpSocketError::Case::badParam, unknownInterfaceText);

    std::uint16_t bound = port;
    if (sockets_[ipv4]) {
        sockets_[ipv4]->bind(udp::endpoint(addresses.v4, port), ec);
        if (ec) fail(AsyncUdpSocketError::Case::badConfig, "Error in bind() function", ec);
        bound = sockets_[ipv4]->local_endpoint(ec).port();
    }
    if (sockets_[ipv6]) {
        sockets_[ipv6]->bind(udp::endpoint(addresses.v6, bound), ec);
        if (ec) {
            // IPv6 is a bonus when IPv4 is bound; alone it must work.
            if (!sockets_[ipv4]) fail(AsyncUdpSocketError::Case::badConfig, "Error in bind() function", ec);
            std::error_code ignored;
            sockets_[ipv6]->close(ignored);
            sockets_[ipv6].reset();
        }
    }
}

void AsyncUdpSocket::beginReceiving() {
    {
        std::lock_guard lock(mutex_);
        createSocketsLocked();
        if (receiving_) return;
        receiving_ = true;
        // Left uninitialised: pages no datagram reaches are never touched.
        for (auto& buffer : buffers_) buffer.reset(new std::uint8_t[receiveSlots * tailSize]);
        for (auto& socket : sockets_) {
            if (!socket) continue;
            std::error_code ec;
            socket->non_blocking(true, ec);
            if (ec) fail(AsyncUdpSocketError::Case::badConfig, "Error in fcntl() function", ec);
            // The kernel caps this at the system's limit: the largest an unprivileged process may have.
            socket->set_option(asio::socket_base::receive_buffer_size(receiveBufferBytes), ec);
            asio::socket_base::receive_buffer_size granted;
            socket->get_option(granted, ec);
            if (!ec && granted.value() < receiveBufferBytes) {
                // Above the system's cap only a privileged process may go.
                int size = receiveBufferBytes;
                ::setsockopt(socket->native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size));
                socket->get_option(granted, ec);
            }
            if (!ec)
                receiveBufferSize_ = std::min(receiveBufferSize_.value_or(granted.value()), granted.value());
        }
        static std::atomic<bool> reportedSmallBuffer{false};
        if (receiveBufferSize_ && *receiveBufferSize_ < burstBufferBytes &&
            !reportedSmallBuffer.exchange(true)) {
            logFormat(LogCategory::osc, LogLevel::warning,
                      "receive buffer of %d bytes is below the %d bytes a burst of preset segments needs: "
                      "segments may be lost while this process is busy (raise net.core.rmem_max)",
                      *receiveBufferSize_, burstBufferBytes);
        }
    }
    receive(ipv4);
    receive(ipv6);
}

void AsyncUdpSocket::receive(std::size_t family) {
    std::lock_guard lock(mutex_);
    if (closed_ || !sockets_[family]) return;
    // Asio reads at once when a datagram is waiting; the handler then drains
    // what else has queued up without going back to the reactor.
    sockets_[family]->async_receive_from(
        receiveBuffers(family), senders_[family][0],
        asio::bind_executor(queue_,
                            [self = shared_from_this(), family](std::error_code ec, std::size_t size) {
                                if (ec == asio::error::operation_aborted) return;
                                auto delegate = self->delegate_.lock();
                                if (!ec) self->hand(delegate, family, 0, size);
                                if (!self->drain(delegate, family)) return;
                                self->receive(family);
                            }));
}

// On the strand. False once the socket is closed.
bool AsyncUdpSocket::drain(const std::shared_ptr<AsyncUdpSocketDelegate>& delegate, std::size_t family) {
    int read = 1;
    while (read < receiveBatch) {
        int taken;
        {
            std::lock_guard lock(mutex_);
            if (closed_ || !sockets_[family]) return false;
            taken = receiveWaitingLocked(family);
        }
        if (taken < 0) break;
        for (std::size_t slot = 0; slot < static_cast<std::size_t>(taken); ++slot)
            hand(delegate, family, slot, sizes_[family][slot]);
        read += std::max(taken, 1);
    }
    // The kernel drops only when datagrams queue up.
    if (read > 1) {
        noteKernelDrops(family);
        // Buffers held for a burst go back to the pool.
        std::lock_guard lock(mutex_);
        for (std::size_t slot = 1; slot < receiveSlots; ++slot) next_[family][slot] = OSCDatagram::Writer();
    }
    return true;
}

int AsyncUdpSocket::receiveWaitingLocked(std::size_t family) {
    std::array<mmsghdr, receiveSlots> messages{};
    std::array<std::array<iovec, 2>, receiveSlots> parts{};
    for (std::size_t slot = 0; slot < receiveSlots; ++slot) {
        auto buffers = receiveBuffers(family, slot);
        for (std::size_t k = 0; k < 2; ++k) parts[slot][k] = {buffers[k].data(), buffers[k].size()};
        auto& header = messages[slot].msg_hdr;
        header.msg_name = senders_[family][slot].data();
        header.msg_namelen = static_cast<socklen_t>(senders_[family][slot].capacity());
        header.msg_iov = parts[slot].data();
        header.msg_iovlen = parts[slot].size();
    }
    int n =
        ::recvmmsg(sockets_[family]->native_handle(), messages.data(), receiveSlots, MSG_DONTWAIT, nullptr);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    for (std::size_t slot = 0; slot < static_cast<std::size_t>(n); ++slot) {
        senders_[family][slot].resize(messages[slot].msg_hdr.msg_namelen);
        sizes_[family][slot] = messages[slot].msg_len;
    }
    return n;
}

// On the strand.
void AsyncUdpSocket::noteKernelDrops(std::size_t family) {
    std::array<std::uint32_t, SK_MEMINFO_VARS> info{};
    socklen_t length = sizeof(info);
    int bufferSize;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || !sockets_[family]) return;
        bufferSize = receiveBufferSize_.value_or(0);
        if (::getsockopt(sockets_[family]->native_handle(), SOL_SOCKET, SO_MEMINFO, info.data(), &length) !=
            0)
            return;
    }
    std::uint32_t drops = info[SK_MEMINFO_DROPS];
    std::uint32_t added = drops - kernelDrops_[family];
    kernelDrops_[family] = drops;
    if (added == 0) return;
    auto total = kernelDropped_.fetch_add(added) + added;
    auto now = std::chrono::steady_clock::now();
    if (now - lastDropReport_ < std::chrono::seconds(1)) return;
    lastDropReport_ = now;
    logFormat(LogCategory::osc, LogLevel::warning,
              "receive buffer of %d bytes overflowed: the kernel dropped %llu datagrams so far", bufferSize,
              static_cast<unsigned long long>(total));
}

std::optional<int> AsyncUdpSocket::receiveBufferSize() const {
    std::lock_guard lock(mutex_);
    return receiveBufferSize_;
}

std::uint64_t AsyncUdpSocket::kernelDropCount() const {
    return kernelDropped_.load();
}

std::array<asio::mutable_buffer, 2> AsyncUdpSocket::receiveBuffers(std::size_t family, std::size_t slot) {
    auto& next = next_[family][slot];
    if (!next) next = OSCDatagram::make(OSCDatagram::pooledCapacity);
    return {asio::buffer(next.data(), next.capacity()),
            asio::buffer(buffers_[family].get() + slot * tailSize, tailSize)};
}

// On the strand.
void AsyncUdpSocket::hand(const std::shared_ptr<AsyncUdpSocketDelegate>& delegate, std::size_t family,
                          std::size_t slot, std::size_t size) {
    if (!delegate) return;
    OSCDatagram datagram;
    auto& next = next_[family][slot];
    const std::size_t head = next.capacity();
    if (size <= head) {
        // The next receive takes another buffer from the pool.
        datagram = std::move(next).finish(size);
    } else {
        auto whole = OSCDatagram::make(size);
        std::memcpy(whole.data(), next.data(), head);
        std::memcpy(whole.data() + head, buffers_[family].get() + slot * tailSize, size - head);
        datagram = std::move(whole).finish(size);
    }
    OSCDatagram::Current current(datagram);
    try {
        delegate->didReceiveData(*this, datagram.bytes(), senders_[family][slot]);
    } catch (const std::exception& e) {
        logFormat(LogCategory::osc, LogLevel::warning, "datagram handling failed: %s", e.what());
    } catch (...) {
        logLine(LogCategory::osc, LogLevel::warning, "datagram handling failed");
    }
}

void AsyncUdpSocket::sendData(std::vector<std::uint8_t> bytes, std::string host, std::uint16_t port,
                              double timeoutSeconds, long tag) {
    auto payload = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    std::error_code ec;
    auto address = asio::ip::make_address(host, ec);
    if (!ec) {
        asio::post(queue_, [self = shared_from_this(), payload, to = udp::endpoint(address, port),
                            timeoutSeconds, tag] { self->send(payload, to, timeoutSeconds, tag); });
        return;
    }
    auto resolver = std::make_shared<udp::resolver>(queue_);
    resolver->async_resolve(
        host, std::to_string(port),
        asio::bind_executor(queue_, [self = shared_from_this(), resolver, payload, timeoutSeconds, tag](
                                        std::error_code error, udp::resolver::results_type results) {
            if (error) {
                self->reportSendFailure(
                    tag, std::make_exception_ptr(AsyncUdpSocketError(
                             AsyncUdpSocketError::Case::badParam, "Error in getaddrinfo() function", error)));
                return;
            }
            std::optional<udp::endpoint> to;
            {
                std::lock_guard lock(self->mutex_);
                for (const auto& entry : results) {
                    auto family = entry.endpoint().address().is_v4() ? ipv4 : ipv6;
                    if (!self->created_ || self->sockets_[family]) {
                        to = entry.endpoint();
                        break;
                    }
                }
            }
            if (!to) {
                self->reportSendFailure(tag, std::make_exception_ptr(AsyncUdpSocketError(
                                                 AsyncUdpSocketError::Case::badParam,
                                                 "No address of an enabled family for the host")));
                return;
            }
            self->send(payload, *to, timeoutSeconds, tag);
        }));
}

// On the strand.
void AsyncUdpSocket::send(std::shared_ptr<std::vector<std::uint8_t>> bytes, udp::endpoint to,
                          double timeoutSeconds, long tag) {
    auto family = to.address().is_v4() ? ipv4 : ipv6;
    auto settled = std::make_shared<bool>(false);
    std::shared_ptr<asio::steady_timer> timer;
    {
        std::lock_guard lock(mutex_);
        try {
            createSocketsLocked();
        } catch (...) {
            reportSendFailure(tag, std::current_exception());
            return;
        }
        if (!sockets_[family]) {
            reportSendFailure(tag, std::make_exception_ptr(AsyncUdpSocketError(
                                       AsyncUdpSocketError::Case::badParam, "Address family not enabled")));
            return;
        }
        if (timeoutSeconds > 0) timer = std::make_shared<asio::steady_timer>(queue_);
        sockets_[family]->async_send_to(
            asio::buffer(*bytes), to,
            asio::bind_executor(queue_, [self = shared_from_this(), bytes, settled, timer, tag](
                                            std::error_code ec, std::size_t) {
                if (*settled) return;
                *settled = true;
                if (timer) timer->cancel();
                if (ec)
                    self->reportSendFailure(
                        tag, std::make_exception_ptr(AsyncUdpSocketError(
                                 ec == asio::error::operation_aborted ? AsyncUdpSocketError::Case::closed
                                                                      : AsyncUdpSocketError::Case::other,
                                 "Error in sendto() function", ec)));
            }));
    }
    if (timer) {
        timer->expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds)));
        timer->async_wait([self = shared_from_this(), settled, tag](std::error_code ec) {
            if (ec || *settled) return;
            *settled = true;
            self->reportSendFailure(
                tag, std::make_exception_ptr(AsyncUdpSocketError(AsyncUdpSocketError::Case::sendTimeout,
                                                                 "Send operation timed out")));
        });
    }
}

void AsyncUdpSocket::reportSendFailure(long tag, std::exception_ptr error) {
    if (auto delegate = delegate_.lock()) {
        try {
            delegate->didNotSendDataWithTag(*this, tag, error);
        } catch (const std::exception& e) {
            logFormat(LogCategory::osc, LogLevel::warning, "didNotSendDataWithTag failed: %s", e.what());
        } catch (...) {
            logLine(LogCategory::osc, LogLevel::warning, "didNotSendDataWithTag failed");
        }
    }
}

void AsyncUdpSocket::close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        std::error_code ignored;
        for (auto& socket : sockets_)
            if (socket) socket->close(ignored);
    }
    asio::post(queue_, [self = shared_from_this()] {
        if (auto delegate = self->delegate_.lock()) {
            try {
                delegate->udpSocketDidClose(*self, nullptr);
            } catch (const std::exception& e) {
                logFormat(LogCategory::osc, LogLevel::warning, "udpSocketDidClose failed: %s", e.what());
            } catch (...) {
                logLine(LogCategory::osc, LogLevel::warning, "udpSocketDidClose failed");
            }
        }
    });
}

bool AsyncUdpSocket::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::optional<std::uint16_t> AsyncUdpSocket::localPort() const {
    std::lock_guard lock(mutex_);
    for (const auto& socket : sockets_) {
        if (!socket) continue;
        std::error_code ec;
        auto endpoint = socket->local_endpoint(ec);
        if (!ec && endpoint.port() != 0) return endpoint.port();
    }
    return std::nullopt;
}

std::optional<std::string> AsyncUdpSocket::hostFromAddress(const udp::endpoint& address) {
    auto ip = address.address();
    if (!ip.is_v4() && !ip.is_v6()) return std::nullopt;
    return ip.to_string();
}

std::uint16_t AsyncUdpSocket::portFromAddress(const udp::endpoint& address) noexcept {
    return address.port();
}

}  // namespace zelto
