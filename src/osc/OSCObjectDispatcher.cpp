#include "osc/OSCObjectDispatcher.h"

#include <asio/post.hpp>
#include <exception>

#include "async/Log.h"
#include "osc/OSCMessageProvider.h"

namespace zelto {

struct OSCObjectDispatcher::State {
    State(std::string label, std::shared_ptr<MemoryBudget> budget)
        : label(std::move(label)), budget(std::move(budget)) {}

    const std::string label;
    const std::shared_ptr<MemoryBudget> budget;
    // On the strand only.
    std::vector<DispatchObject> dispatchObjects;
    // Entries registered or about to be: lets a dispatch with nothing to call
    // skip the strand. Raised before addCallback returns, lowered on the strand.
    std::atomic<std::size_t> registered{0};
    // Objects posted and not done yet (their memory is charged to `budget`).
    std::atomic<std::size_t> backlog{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<bool> dropping{false};

    void run(const OSCMessage& message) {
        for (const auto& entry : dispatchObjects) {
            if (!entry.addressPattern.matches(message.address())) continue;
            try {
                entry.callback(entry.addressPattern, message);
            } catch (const std::exception& e) {
                logFormat(LogCategory::osc, LogLevel::warning, "callback for %s failed: %s",
                          entry.addressPattern.pattern().c_str(), e.what());
            } catch (...) {
                logFormat(LogCategory::osc, LogLevel::warning, "callback for %s failed",
                          entry.addressPattern.pattern().c_str());
            }
        }
    }

    void runAll(const OSCObject& object) {
        if (const auto* message = object.message()) {
            run(*message);
        } else if (const auto* bundle = object.bundle()) {
            for (const auto& element : bundle->elements()) runAll(element);
        }
    }
};

// One posted object. It leaves the backlog, and gives its memory back, when
// the strand has run it, or when a strand that never ran it is destroyed.
struct OSCObjectDispatcher::Job {
    Job(std::shared_ptr<State> state, OSCObjectPtr object, std::size_t charge) noexcept
        : state(std::move(state)), object(std::move(object)), charge(charge) {}
    Job(Job&& other) noexcept
        : state(std::move(other.state)), object(std::move(other.object)), charge(other.charge) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    Job& operator=(Job&&) = delete;
    ~Job() {
        if (!state) return;
        object.reset();
        state->budget->release(charge);
        if (state->backlog.fetch_sub(1) == 1) state->dropping.store(false);
    }
    void operator()() { state->runAll(*object); }

    std::shared_ptr<State> state;
    OSCObjectPtr object;
    std::size_t charge;
};

OSCObjectDispatcher::OSCObjectDispatcher(Strand queue, std::string label,
                                         std::shared_ptr<MemoryBudget> receiveBudget)
    : queue_(std::move(queue)),
      state_(std::make_shared<State>(std::move(label), receiveBudget
                                                           ? std::move(receiveBudget)
                                                           : OSCMessageProvider::sharedReceiveBudget())) {}

void OSCObjectDispatcher::addCallback(OSCAddressPattern addressPattern, Callback callback) {
    state_->registered.fetch_add(1);
    asio::post(queue_, [state = state_,
                        entry = DispatchObject{std::move(addressPattern), std::move(callback)}]() mutable {
        state->dispatchObjects.push_back(std::move(entry));
    });
}

void OSCObjectDispatcher::removeCallback(OSCAddressPattern addressPattern) {
    asio::post(queue_, [state = state_, pattern = std::move(addressPattern)] {
        auto removed = std::erase_if(state->dispatchObjects, [&](const DispatchObject& entry) {
            return entry.addressPattern == pattern;
        });
        state->registered.fetch_sub(removed);
    });
}

void OSCObjectDispatcher::post(OSCObjectPtr object, std::size_t footprint) {
    if (state_->registered.load() == 0) return;
    // The object, and the operation that holds it on the strand's queue.
    constexpr std::size_t postedOperation = 64;
    const std::size_t charge = footprint + sizeof(Job) + postedOperation;
    if (state_->backlog.load() >= OSCMessageProvider::queueLimit || !state_->budget->tryCharge(charge)) {
        auto dropped = state_->dropped.fetch_add(1) + 1;
        if (!state_->dropping.exchange(true)) {
            logFormat(LogCategory::osc, LogLevel::warning,
                      "%s: %zu objects wait for the callbacks, dropping further ones (%llu dropped so far)",
                      state_->label.c_str(), state_->backlog.load(),
                      static_cast<unsigned long long>(dropped));
        }
        return;
    }
    state_->backlog.fetch_add(1);
    asio::post(queue_, Job(state_, std::move(object), charge));
}

std::uint64_t OSCObjectDispatcher::droppedCount() const {
    return state_->dropped.load();
}

void OSCObjectDispatcher::dispatchMessage(OSCMessage message) {
    dispatchObject(OSCObject(std::move(message)));
}

void OSCObjectDispatcher::dispatchBundle(OSCBundle bundle) {
    dispatchObject(OSCObject(std::move(bundle)));
}

void OSCObjectDispatcher::dispatchObject(OSCObject object) {
    dispatchShared(std::make_shared<const OSCObject>(std::move(object)));
}

void OSCObjectDispatcher::dispatchShared(OSCObjectPtr object) {
    if (!object || state_->registered.load() == 0) return;
    const std::size_t footprint = object->memoryFootprint();
    post(std::move(object), footprint);
}

void OSCObjectDispatcher::dispatchShared(OSCObjectPtr object, std::size_t footprint) {
    if (object) post(std::move(object), footprint);
}

}  // namespace zelto
