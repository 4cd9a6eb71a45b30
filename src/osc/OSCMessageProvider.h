#pragma once

// The common base of OSCServer and OSCConnection: publishes every received
// OSC object on one shared stream (`objects`) and lets any number of readers
// await the next matching message, within a time-out.
//
// Threading: objects are published on the server's strand. Reads are
// coroutines; call them from a coroutine on any executor and co_await them:
//
//     OSCMessage reply = co_await connection->readMessage("/ZELTOapp/control/PresetList",
//                                                         1'000'000'000, true);
//
// The caller resumes on its own executor. A read subscribes and notes its
// start time when it is called (not when it is first co_awaited), and only
// returns a message received after that moment; so a caller may start the
// read, send its request, then co_await the read. Concurrent reads of the
// same address each get the same message.
// The work of a read runs on the provider's task executor (the pool), raced
// against a steady_timer (see async/Timeout.h). Errors:
//   OSCConnectionError::readTimeout        the time-out passed, or the stream failed;
//   OSCConnectionError::connectionCanceled the stream ended first (the server was
//                                          cancelled), also at once for a read that
//                                          starts after the end.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "async/Executor.h"
#include "async/MemoryBudget.h"
#include "async/SharedAsyncSequence.h"
#include "osc/OSCAddressPattern.h"
#include "osc/OSCObject.h"
#include "osc/OSCTransportErrors.h"

namespace zelto {

class OSCMessageProvider {
  public:
    // Every queue between the socket and a reader (a reader's buffer, a view,
    // the datagrams held for a new peer, a dispatcher's backlog) holds at most
    // this many objects, far above the thousand segments of a large preset.
    static constexpr std::size_t queueLimit = 65536;
    // Together, the queues of a server and its connections hold at most the
    // memory of their receive budget, counted as what their elements really
    // keep allocated (OSCObject::memoryFootprint: the values, the lists, the
    // datagram buffer each one pins), not their encoded size. Unless a server
    // is given a budget of its own, every server of the process shares one of
    // this size (sharedReceiveBudget), which bounds the receive side of the
    // whole application. What does not fit is dropped, logged and counted.
    static constexpr std::size_t defaultReceiveBudget = std::size_t{64} << 20;
    // The process's budget; its limit may be changed at any time.
    static const std::shared_ptr<MemoryBudget>& sharedReceiveBudget();

    // `receiveBudget`: the budget of the provider's queues, the shared one when none.
    explicit OSCMessageProvider(Executor taskExecutor, std::shared_ptr<MemoryBudget> receiveBudget = nullptr);
    virtual ~OSCMessageProvider();
    OSCMessageProvider(const OSCMessageProvider&) = delete;
    OSCMessageProvider& operator=(const OSCMessageProvider&) = delete;

    // The shared stream of received objects; none for a bare provider. It
    // keeps nothing for readers that have not subscribed yet.
    std::optional<SharedAsyncSequence<OSCObjectPtr>> objects() const;

    // New streams over `objects`, fed by a background task that subscribed
    // before the call returned. They end (or fail) with `objects`.
    // Every message, with the messages inside bundles taken out depth first.
    SharedAsyncSequence<OSCMessage> allMessages() const;
    // Top-level messages only.
    SharedAsyncSequence<OSCMessage> messages() const;
    // Top-level bundles only.
    SharedAsyncSequence<OSCBundle> bundles() const;

    // The next message received after the call whose address matches
    // `addressPattern` (any address when none). Messages inside bundles count
    // only when `considerBundleMessages` is true. Time-out in nanoseconds;
    // none waits until the stream ends.
    Task<OSCMessage> readMessage(std::optional<OSCAddressPattern> addressPattern,
                                 std::optional<std::uint64_t> timeout, bool considerBundleMessages);
    // The same with the pattern as text; an invalid text accepts any address.
    Task<OSCMessage> readMessage(std::string_view addressPattern, std::optional<std::uint64_t> timeout,
                                 bool considerBundleMessages);
    // The next bundle received after the call.
    Task<OSCBundle> readBundle(std::optional<std::uint64_t> timeout);

    const Executor& taskExecutor() const noexcept { return taskExecutor_; }
    const std::shared_ptr<MemoryBudget>& receiveBudget() const noexcept { return receiveBudget_; }

  protected:
    // Installs a fresh objects stream, named `label` in its log lines, and
    // returns it; the previous one is left as it is.
    SharedAsyncSequence<OSCObjectPtr> replaceObjects(std::string label);
    // The producer end; none for a bare provider.
    std::optional<SharedAsyncSequence<OSCObjectPtr>> objectsContinuation() const { return objects(); }

  private:
    template <class T, class Select>
    SharedAsyncSequence<T> view(Select select) const;
    // The objects stream, or one that has already ended for a bare provider.
    SharedAsyncSequence<OSCObjectPtr> objectsOrEnded() const;

    Executor taskExecutor_;
    std::shared_ptr<MemoryBudget> receiveBudget_;
    mutable std::mutex mutex_;
    std::optional<SharedAsyncSequence<OSCObjectPtr>> objects_;
};

}  // namespace zelto
