#pragma once

// One remote peer (host and port) of an OSCServer. Only a server creates
// connections; the server keeps each one until it is cancelled or the peer has
// been silent for its idle time (see OSCServer::setPeerIdleTime).
//
// Threading: the server hands datagrams to the connection on the server's
// strand; the connection decodes them there, stamps them (endpoint, receive
// time), publishes them on its `objects` stream (and through the server on the
// server's), then gives them to its `dispatcher`, whose callbacks run on the
// dispatcher's own strand. Reads: see OSCMessageProvider.
//
// A new connection is announced before its first datagram is handed over:
// `OSCServerDelegate::newConnectionEstablished` runs first, on the server's
// strand, and readers of the server's connection stream get it next; the
// datagrams wait until every such reader has taken the connection and run to
// its next suspension (its next co_await). So callbacks registered, and reads
// started, in reaction to the announcement see the peer's first datagram
// (a read still returns only messages received after it began). Held datagrams
// are bounded like every receive queue (OSCMessageProvider::queueLimit, and
// the memory they take charged to the server's receive budget).
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "osc/OSCDecoder.h"
#include "osc/OSCEndpoint.h"
#include "osc/OSCMessageProvider.h"
#include "osc/OSCObjectDispatcher.h"

namespace zelto {

class OSCServer;

class OSCConnection : public OSCMessageProvider {
  public:
    // `taskExecutor` runs reads and the dispatcher's strand. The connection's
    // queues (its objects stream, its dispatcher, its held datagrams) are
    // charged to `receiveBudget` (the shared one when none).
    OSCConnection(OSCEndpoint endpoint, OSCDecoderFunction decoderType, Executor taskExecutor,
                  std::shared_ptr<MemoryBudget> receiveBudget = nullptr);
    ~OSCConnection() override;

    const OSCEndpoint& endpoint() const noexcept { return endpoint_; }
    OSCDecoderFunction decoderType() const noexcept { return decoderType_; }
    OSCObjectDispatcher& dispatcher() noexcept { return dispatcher_; }

    // "OSCConnection@" + host + ":" + port.
    std::string description() const;

    // True until the objects stream was finished (by the server's cancel) or
    // failed (a malformed datagram).
    bool isActive() const;

    // Datagrams that found the held queue full and were dropped.
    std::uint64_t heldDroppedCount() const { return heldDropped_.load(); }

  private:
    friend class OSCServer;

    struct HeldDatagram {
        std::vector<std::uint8_t> bytes;
        std::uint64_t receiveTime;
        // What it is charged to the receive budget.
        std::size_t charge;
    };

    // On the server's strand. Returns the object to publish on the server's
    // stream, or nullptr, and sets `footprint` to its memory footprint.
    OSCObjectPtr handleDatagram(std::span<const std::uint8_t> data, std::uint64_t receiveTime,
                                std::size_t& footprint);
    // While held, datagrams are queued instead of handled.
    void hold();
    bool held() const { return held_; }
    void keep(std::span<const std::uint8_t> data, std::uint64_t receiveTime);
    // Ends holding and hands over what was kept; each one's charge is given
    // back with `handed` once it has been handled.
    std::deque<HeldDatagram> release();
    void handed(const HeldDatagram& datagram) noexcept;
    void finish();

    OSCEndpoint endpoint_;
    OSCDecoderFunction decoderType_;
    OSCObjectDispatcher dispatcher_;
    SharedAsyncSequence<OSCObjectPtr> stream_;
    std::atomic<bool> active_{true};
    std::atomic<std::uint64_t> heldDropped_{0};
    // Touched on the server's strand only.
    bool held_ = false;
    std::deque<HeldDatagram> heldDatagrams_;
    bool heldOverflowReported_ = false;
    // Receive time of the peer's last datagram.
    std::uint64_t lastReceived_ = 0;
    // Order of creation on its server; set before the connection is shared.
    std::uint64_t serial_ = 0;
};

}  // namespace zelto
