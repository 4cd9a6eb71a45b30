#include "osc/OSCObjectDispatcher.h"

#include <asio/post.hpp>
#include <exception>

#include "async/Log.h"
#include "osc/OSCMessageProvider.h"

namespace zelto {

struct OSCObjectDispatcher::State {
    explicit State(std::string label) : label(std::move(label)) {}

    const std::string label;
    // On the strand only.
    std::vector<DispatchObject> dispatchObjects;
    // Entries registered or about to be: lets a dispatch with nothing to call
    // skip the strand. Raised before addCallback returns, lowered on the strand.
    std::atomic<std::size_t> registered{0};
    // Objects posted and not run yet, and their encoded size.
    std::atomic<std::size_t> backlog{0};
    std::atomic<std::size_t> backlogBytes{0};
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

OSCObjectDispatcher::OSCObjectDispatcher(Strand queue, std::string label)
    : queue_(std::move(queue)), state_(std::make_shared<State>(std::move(label))) {}

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

void OSCObjectDispatcher::post(OSCObjectPtr object) {
    if (state_->registered.load() == 0) return;
    std::size_t size = object->oscSize();
    if (state_->backlog.load() >= OSCMessageProvider::queueLimit ||
        state_->backlogBytes.load() + size > OSCMessageProvider::queueBytes) {
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
    state_->backlogBytes.fetch_add(size);
    asio::post(queue_, [state = state_, object = std::move(object), size] {
        state->backlogBytes.fetch_sub(size);
        if (state->backlog.fetch_sub(1) == 1) state->dropping.store(false);
        state->runAll(*object);
    });
}

std::uint64_t OSCObjectDispatcher::droppedCount() const {
    return state_->dropped.load();
}

void OSCObjectDispatcher::dispatchMessage(OSCMessage message) {
    post(std::make_shared<const OSCObject>(std::move(message)));
}

void OSCObjectDispatcher::dispatchBundle(OSCBundle bundle) {
    post(std::make_shared<const OSCObject>(std::move(bundle)));
}

void OSCObjectDispatcher::dispatchObject(OSCObject object) {
    post(std::make_shared<const OSCObject>(std::move(object)));
}

void OSCObjectDispatcher::dispatchShared(OSCObjectPtr object) {
    if (object) post(std::move(object));
}

}  // namespace zelto
