#pragma once

// Runs registered callbacks for received messages whose address matches a
// registered pattern.
//
// Threading: every registration change and every dispatch run happens on the
// dispatcher's own strand (`queue()`), so callbacks of one dispatcher never run
// concurrently and never overlap a change. All operations may be called from
// any thread and return at once. Order is the order of posting: a message
// dispatched after `addCallback` returned sees the new entry. A callback that
// throws is reported on standard output and does not stop the others.
//
// The objects waiting for the strand are bounded like every receive queue
// (OSCMessageProvider::queueLimit objects, and their memory footprint charged
// to a receive budget): beyond that, an object is dropped, counted, and the
// first drop of each backlog is logged.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "async/Executor.h"
#include "async/MemoryBudget.h"
#include "osc/OSCAddressPattern.h"
#include "osc/OSCObject.h"

namespace zelto {

class OSCObjectDispatcher {
  public:
    using Callback = std::function<void(const OSCAddressPattern&, const OSCMessage&)>;

    struct DispatchObject {
        OSCAddressPattern addressPattern;
        Callback callback;
    };

    // `label` names the dispatcher in its log lines. The backlog is charged to
    // `receiveBudget`, or to OSCMessageProvider::sharedReceiveBudget when none.
    explicit OSCObjectDispatcher(Strand queue, std::string label = "OSCObjectDispatcher",
                                 std::shared_ptr<MemoryBudget> receiveBudget = nullptr);
    OSCObjectDispatcher(const OSCObjectDispatcher&) = delete;
    OSCObjectDispatcher& operator=(const OSCObjectDispatcher&) = delete;

    const Strand& queue() const noexcept { return queue_; }

    // Appends an entry; the same pattern may be registered several times.
    void addCallback(OSCAddressPattern addressPattern, Callback callback);
    // Removes every entry whose pattern equals `addressPattern`.
    void removeCallback(OSCAddressPattern addressPattern);

    void dispatchMessage(OSCMessage message);
    // Every message inside, depth first, in element order; time tags are ignored.
    void dispatchBundle(OSCBundle bundle);
    void dispatchObject(OSCObject object);
    // The same for an object that is already shared: nothing is copied.
    void dispatchShared(OSCObjectPtr object);
    // With the object's memoryFootprint(), for a caller that has it already.
    void dispatchShared(OSCObjectPtr object, std::size_t footprint);

    // Objects dropped because the backlog was full.
    std::uint64_t droppedCount() const;

  private:
    struct State;
    struct Job;
    void post(OSCObjectPtr object, std::size_t footprint);

    Strand queue_;
    std::shared_ptr<State> state_;
};

}  // namespace zelto
