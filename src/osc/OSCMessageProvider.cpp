#include "osc/OSCMessageProvider.h"

#include <asio/detached.hpp>
#include <type_traits>

#include "async/MonotonicClock.h"
#include "async/Timeout.h"

namespace zelto {

namespace {

bool receivedAfter(const OSCObject& object, std::uint64_t start) {
    auto time = object.receiveTime();
    return time && *time > start;
}

// The first message of `object` (depth first when `nested`) that matches.
const OSCMessage* findMessage(const OSCObject& object, const std::optional<OSCAddressPattern>& pattern,
                              bool nested) {
    if (const auto* message = object.message()) {
        return !pattern || pattern->matches(message->address()) ? message : nullptr;
    }
    if (!nested) return nullptr;
    for (const auto& element : object.bundle()->elements()) {
        if (const auto* found = findMessage(element, pattern, nested)) return found;
    }
    return nullptr;
}

Task<std::optional<OSCMessage>> readMessageWork(AsyncIterator<OSCObjectPtr> objects,
                                                std::optional<OSCAddressPattern> pattern, std::uint64_t start,
                                                bool considerBundleMessages) {
    while (true) {
        auto next = objects.next();
        auto object = co_await std::move(next);
        if (!object) co_return std::nullopt;
        if (!receivedAfter(**object, start)) continue;
        if (const auto* message = findMessage(**object, pattern, considerBundleMessages)) co_return *message;
    }
}

Task<std::optional<OSCBundle>> readBundleWork(AsyncIterator<OSCObjectPtr> objects, std::uint64_t start) {
    while (true) {
        auto next = objects.next();
        auto object = co_await std::move(next);
        if (!object) co_return std::nullopt;
        if (!receivedAfter(**object, start)) continue;
        if (const auto* bundle = (*object)->bundle()) co_return *bundle;
    }
}

void collectMessages(const OSCObject& object, std::vector<OSCMessage>& out) {
    if (const auto* message = object.message()) {
        out.push_back(*message);
        return;
    }
    for (const auto& element : object.bundle()->elements()) collectMessages(element, out);
}

template <class T, class Select>
Task<void> feedView(AsyncIterator<OSCObjectPtr> objects, SharedAsyncSequence<T> view, Select select) {
    std::vector<T> selected;
    try {
        while (true) {
            auto next = objects.next();
            auto object = co_await std::move(next);
            if (!object) break;
            selected.clear();
            select(**object, selected);
            for (auto& value : selected) view.yield(std::move(value));
            // Nobody can read the view any more: only this task still holds it.
            if (view.isAbandoned()) co_return;
        }
        view.finish();
    } catch (...) {
        view.fail(std::current_exception());
    }
}

// The limits of a stream of received objects, charged to `budget`; with
// `early`, it keeps the newest ones until a first reader arrives.
template <class T>
StreamLimits<T> receivedLimits(std::string label, bool early, std::shared_ptr<MemoryBudget> budget) {
    StreamLimits<T> limits;
    limits.early = early ? OSCMessageProvider::queueLimit : 0;
    limits.unread = OSCMessageProvider::queueLimit;
    limits.budget = std::move(budget);
    limits.label = std::move(label);
    if constexpr (std::is_same_v<T, OSCObjectPtr>) {
        limits.weigh = [](const OSCObjectPtr& object) { return object ? object->memoryFootprint() : 0; };
    } else {
        // A copy sits in the buffer itself; what it holds beyond that counts.
        limits.weigh = [](const T& value) { return value.memoryFootprint() - sizeof(T); };
    }
    return limits;
}

}  // namespace

const std::shared_ptr<MemoryBudget>& OSCMessageProvider::sharedReceiveBudget() {
    // Never destroyed: queues may give memory back while the program exits.
    static const auto* budget =
        new std::shared_ptr<MemoryBudget>(std::make_shared<MemoryBudget>(defaultReceiveBudget));
    return *budget;
}

OSCMessageProvider::OSCMessageProvider(Executor taskExecutor, std::shared_ptr<MemoryBudget> receiveBudget)
    : taskExecutor_(std::move(taskExecutor)),
      receiveBudget_(receiveBudget ? std::move(receiveBudget) : sharedReceiveBudget()) {}

OSCMessageProvider::~OSCMessageProvider() = default;

std::optional<SharedAsyncSequence<OSCObjectPtr>> OSCMessageProvider::objects() const {
    std::lock_guard lock(mutex_);
    return objects_;
}

SharedAsyncSequence<OSCObjectPtr> OSCMessageProvider::replaceObjects(std::string label) {
    SharedAsyncSequence<OSCObjectPtr> fresh(
        receivedLimits<OSCObjectPtr>(std::move(label), false, receiveBudget_));
    std::lock_guard lock(mutex_);
    objects_ = fresh;
    return fresh;
}

SharedAsyncSequence<OSCObjectPtr> OSCMessageProvider::objectsOrEnded() const {
    if (auto stream = objects()) return *stream;
    SharedAsyncSequence<OSCObjectPtr> ended(1, 1);
    ended.finish();
    return ended;
}

template <class T, class Select>
SharedAsyncSequence<T> OSCMessageProvider::view(Select select) const {
    auto source = objectsOrEnded();
    // The caller holds the view and reads it later: it keeps what arrives meanwhile.
    SharedAsyncSequence<T> view(receivedLimits<T>(source.label() + " view", true, receiveBudget_));
    auto task = feedView<T>(source.makeAsyncIterator(), view, std::move(select));
    asio::co_spawn(taskExecutor_, std::move(task), asio::detached);
    return view;
}

SharedAsyncSequence<OSCMessage> OSCMessageProvider::allMessages() const {
    return view<OSCMessage>(
        [](const OSCObject& object, std::vector<OSCMessage>& out) { collectMessages(object, out); });
}

SharedAsyncSequence<OSCMessage> OSCMessageProvider::messages() const {
    return view<OSCMessage>([](const OSCObject& object, std::vector<OSCMessage>& out) {
        if (const auto* message = object.message()) out.push_back(*message);
    });
}

SharedAsyncSequence<OSCBundle> OSCMessageProvider::bundles() const {
    return view<OSCBundle>([](const OSCObject& object, std::vector<OSCBundle>& out) {
        if (const auto* bundle = object.bundle()) out.push_back(*bundle);
    });
}

// Not coroutines themselves: the subscription and the start time are taken
// at the call, so a caller may start a read, send its request, then co_await.
Task<OSCMessage> OSCMessageProvider::readMessage(std::optional<OSCAddressPattern> addressPattern,
                                                 std::optional<std::uint64_t> timeout,
                                                 bool considerBundleMessages) {
    auto objects = objectsOrEnded().makeAsyncIterator();
    auto start = monotonicNanoseconds();
    auto work = readMessageWork(std::move(objects), std::move(addressPattern), start, considerBundleMessages);
    return withCheckedThrowingContinuation<OSCMessage>(
        "readMessage(addressPattern:timeout:considerBundleMessages:)", timeout,
        OSCConnectionError(OSCConnectionError::Case::connectionCanceled),
        OSCConnectionError(OSCConnectionError::Case::readTimeout), std::move(work), taskExecutor_);
}

Task<OSCMessage> OSCMessageProvider::readMessage(std::string_view addressPattern,
                                                 std::optional<std::uint64_t> timeout,
                                                 bool considerBundleMessages) {
    return readMessage(OSCAddressPattern::make(addressPattern), timeout, considerBundleMessages);
}

Task<OSCBundle> OSCMessageProvider::readBundle(std::optional<std::uint64_t> timeout) {
    auto objects = objectsOrEnded().makeAsyncIterator();
    auto start = monotonicNanoseconds();
    auto work = readBundleWork(std::move(objects), start);
    return withCheckedThrowingContinuation<OSCBundle>(
        "readBundle(timeout:)", timeout, OSCConnectionError(OSCConnectionError::Case::connectionCanceled),
        OSCConnectionError(OSCConnectionError::Case::readTimeout), std::move(work), taskExecutor_);
}

}  // namespace zelto
