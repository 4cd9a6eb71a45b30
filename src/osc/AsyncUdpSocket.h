#pragma once

// A thin asynchronous UDP socket over Asio: up to two datagram sockets (IPv4
// and IPv6, the latter IPv6-only so both may bind one port), created together
// on first need.
//
// Threading: every operation may be called from any thread. Receiving and
// sending run on `queue` (a strand), and every delegate callback is delivered
// on it. Socket objects are touched under one mutex, so `close` from another
// thread is safe and takes effect at once.
#include <array>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "async/Executor.h"
#include "osc/OSCDatagram.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {

class AsyncUdpSocket;

class AsyncUdpSocketDelegate {
  public:
    virtual ~AsyncUdpSocketDelegate() = default;
    // `data` is valid only during the call. It lies in OSCDatagram::current(),
    // so the standard decoder decodes it in place and the objects keep it.
    virtual void didReceiveData(AsyncUdpSocket& socket, std::span<const std::uint8_t> data,
                                const asio::ip::udp::endpoint& address) = 0;
    virtual void didNotSendDataWithTag(AsyncUdpSocket& socket, long tag, std::exception_ptr error) = 0;
    virtual void udpSocketDidClose(AsyncUdpSocket& socket, std::exception_ptr error) = 0;
};

class AsyncUdpSocket : public std::enable_shared_from_this<AsyncUdpSocket> {
  public:
    // The largest UDP payload; the receive buffer holds it whole.
    static constexpr std::size_t maxDatagramSize = 65535;
    // Kernel receive buffer asked for by `beginReceiving`, so a burst is not
    // dropped while the receiving side is busy. A privileged process gets it
    // whole, any other the system's cap (net.core.rmem_max).
    static constexpr int receiveBufferBytes = 8 * 1024 * 1024;
    // A preset of a megabyte arrives as a thousand datagrams back to back,
    // which the kernel accounts at up to 4 KiB each while they wait. A smaller
    // buffer is reported once per process ("receive buffer ... below ...").
    static constexpr int burstBufferBytes = 4 * 1024 * 1024;

    static std::shared_ptr<AsyncUdpSocket> make(std::weak_ptr<AsyncUdpSocketDelegate> delegate, Strand queue);
    ~AsyncUdpSocket();

    const Strand& queue() const noexcept { return queue_; }

    // Each throws AsyncUdpSocketError.
    void enableBroadcast(bool flag);  // "Error in setsockopt() function"
    void enableReusePort(bool flag);
    // Binds both families to `port` (0 picks one; IPv6 then follows IPv4's) on
    // the interface named by `interface` (a name such as "lo", or a local
    // address), or on all interfaces. "Error in bind() function",
    // "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."
    void bindToPort(std::uint16_t port, const std::optional<std::string>& interface = std::nullopt);
    void beginReceiving();

    // Resolves `host` (numeric or a name) and sends `bytes` as one datagram to
    // its first address of an open family. Failures reach the delegate's
    // `didNotSendDataWithTag`; a time-out of zero or less means none.
    void sendData(std::vector<std::uint8_t> bytes, std::string host, std::uint16_t port,
                  double timeoutSeconds, long tag);

    // Closes both sockets, drops pending sends, and reports `udpSocketDidClose`.
    void close();
    bool isClosed() const;

    // The local port after binding (or after the first send).
    std::optional<std::uint16_t> localPort() const;
    // The kernel receive buffer granted to the receiving sockets (the smaller
    // of the two), once receiving.
    std::optional<int> receiveBufferSize() const;
    // Datagrams the kernel dropped for want of room, as far as noticed.
    std::uint64_t kernelDropCount() const;

    // Numeric host text (dotted IPv4 or IPv6 text) of an address.
    static std::optional<std::string> hostFromAddress(const asio::ip::udp::endpoint& address);
    static std::uint16_t portFromAddress(const asio::ip::udp::endpoint& address) noexcept;

    AsyncUdpSocket(std::weak_ptr<AsyncUdpSocketDelegate> delegate, Strand queue);  // use make()

  private:
    struct Receiver;
    void createSocketsLocked();
    void receive(std::size_t family);
    // Where the datagram of `family` in `slot` goes: a pooled datagram
    // buffer, then the rest of the largest datagram. Under mutex_.
    std::array<asio::mutable_buffer, 2> receiveBuffers(std::size_t family, std::size_t slot = 0);
    // Takes up to receiveSlots waiting datagrams in one call: their count,
    // 0 for an error queued by ICMP for an earlier send, -1 when none waits.
    // Under mutex_.
    int receiveWaitingLocked(std::size_t family);
    // Hands on what else has queued up after a receive, without going back
    // to the reactor.
    bool drain(const std::shared_ptr<AsyncUdpSocketDelegate>& delegate, std::size_t family);
    void hand(const std::shared_ptr<AsyncUdpSocketDelegate>& delegate, std::size_t family, std::size_t slot,
              std::size_t size);
    void noteKernelDrops(std::size_t family);
    void send(std::shared_ptr<std::vector<std::uint8_t>> bytes, asio::ip::udp::endpoint to,
              double timeoutSeconds, long tag);
    void reportSendFailure(long tag, std::exception_ptr error);

    std::weak_ptr<AsyncUdpSocketDelegate> delegate_;
    Strand queue_;
    mutable std::mutex mutex_;
    // [0] IPv4, [1] IPv6; either may be missing.
    std::array<std::optional<asio::ip::udp::socket>, 2> sockets_;
    bool created_ = false;
    bool closed_ = false;
    bool receiving_ = false;
    // Datagrams taken from the kernel in one call while a burst drains.
    static constexpr std::size_t receiveSlots = 16;
    static constexpr std::size_t tailSize = maxDatagramSize + 1;
    // Per family (both receives may be in flight at once) and slot: a
    // datagram is received into `next_`, which becomes its storage when it
    // fits; `buffers_` (receiveSlots tails, touched only by datagrams that
    // need them) takes the rest of a larger one, which is then copied out.
    std::array<std::array<OSCDatagram::Writer, receiveSlots>, 2> next_;
    std::array<std::unique_ptr<std::uint8_t[]>, 2> buffers_;
    std::array<std::array<asio::ip::udp::endpoint, receiveSlots>, 2> senders_;
    std::array<std::array<std::size_t, receiveSlots>, 2> sizes_{};
    std::optional<int> receiveBufferSize_;
    // Per family, the kernel's drop counter when last read; on the strand.
    std::array<std::uint32_t, 2> kernelDrops_{};
    std::atomic<std::uint64_t> kernelDropped_{0};
    std::chrono::steady_clock::time_point lastDropReport_{};
};

}  // namespace zelto
