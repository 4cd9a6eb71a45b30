#include "device/PresetSegmentHandler.h"

#include <algorithm>

namespace zelto {

namespace {

std::string withoutFileSuffix(std::string name) {
    static const std::string suffix = ".ZELTOshow";
    for (auto pos = name.find(suffix); pos != std::string::npos; pos = name.find(suffix, pos)) {
        name.erase(pos, suffix.size());
    }
    return name;
}

}  // namespace

PresetSegmentHandler::PresetSegmentHandler(asio::any_io_executor executor)
    : PresetSegmentHandler(std::move(executor), Limits{}) {}

PresetSegmentHandler::PresetSegmentHandler(asio::any_io_executor executor, Limits limits)
    : executor_(std::move(executor)), limits_(limits) {}

PresetSegmentHandler::~PresetSegmentHandler() { close(); }

void PresetSegmentHandler::addSegment(PresetSegment segment) {
    std::optional<RemoteZeltoPreset> completed;
    {
        std::lock_guard lock(mutex_);
        dropStale(segment.received);
        auto found = pending_.find(segment.presetName);
        if (found == pending_.end()) {
            if (segment.totalCount < 0 || segment.totalCount > limits_.maxSegments) return;
            while (pending_.size() >= limits_.maxPendingPresets) dropOldest();
            found = pending_.emplace(segment.presetName, Pending{}).first;
            found->second.totalCount = segment.totalCount;
            found->second.firstSeen = ++arrivals_;
        }
        Pending& preset = found->second;
        preset.lastReceived = segment.received;
        bool fresh = segment.index >= 0 && segment.index < preset.totalCount && !preset.parts.count(segment.index);
        if (fresh) {
            while (pendingBytes_ + segment.bytes.size() > limits_.maxPendingBytes && pending_.size() > 1) {
                dropOldest();
            }
            found = pending_.find(segment.presetName);
            if (found == pending_.end() || pendingBytes_ + segment.bytes.size() > limits_.maxPendingBytes) {
                if (found != pending_.end()) erase(segment.presetName);
                return;
            }
            found->second.byteCount += segment.bytes.size();
            pendingBytes_ += segment.bytes.size();
            found->second.parts.emplace(segment.index, std::move(segment.bytes));
        }
        Pending& current = found->second;
        if (static_cast<std::int64_t>(current.parts.size()) < current.totalCount) return;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(current.byteCount);
        for (auto& [index, part] : current.parts) bytes.insert(bytes.end(), part.begin(), part.end());
        completed.emplace(withoutFileSuffix(segment.presetName));
        completed->bytes = std::move(bytes);
        erase(segment.presetName);
        publish(*completed);
    }
}

void PresetSegmentHandler::dropStale(std::chrono::steady_clock::time_point now) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now - it->second.lastReceived > limits_.staleAfter) {
            pendingBytes_ -= it->second.byteCount;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

void PresetSegmentHandler::dropOldest() {
    auto oldest = std::min_element(pending_.begin(), pending_.end(), [](const auto& a, const auto& b) {
        return a.second.firstSeen < b.second.firstSeen;
    });
    if (oldest != pending_.end()) erase(oldest->first);
}

void PresetSegmentHandler::erase(const std::string& name) {
    auto found = pending_.find(name);
    if (found == pending_.end()) return;
    pendingBytes_ -= found->second.byteCount;
    pending_.erase(found);
}

void PresetSegmentHandler::publish(const RemoteZeltoPreset& preset) {
    std::erase_if(subscribers_, [&](const Subscriber& s) {
        auto waiter = s.waiter.lock();
        if (!waiter || waiter->done()) return true;
        if (s.name && *s.name != preset.name) return false;
        waiter->deliver(preset);
        return true;
    });
}

std::shared_ptr<PresetSegmentHandler::PresetWaiter> PresetSegmentHandler::subscribe(
    std::optional<std::string> name) {
    auto waiter = std::make_shared<PresetWaiter>(executor_);
    std::lock_guard lock(mutex_);
    if (closed_) {
        waiter->end();
    } else {
        std::erase_if(subscribers_, [](const Subscriber& s) { return s.waiter.expired(); });
        subscribers_.push_back({waiter, std::move(name)});
    }
    return waiter;
}

asio::awaitable<RemoteZeltoPreset> PresetSegmentHandler::awaitPreset(std::optional<std::uint64_t> timeout) {
    co_return co_await awaitPreset(subscribe(), timeout);
}

asio::awaitable<RemoteZeltoPreset> PresetSegmentHandler::awaitPreset(std::shared_ptr<PresetWaiter> waiter,
                                                                     std::optional<std::uint64_t> timeout) {
    std::optional<std::chrono::nanoseconds> limit;
    if (timeout) limit = std::chrono::nanoseconds(static_cast<std::int64_t>(std::min<std::uint64_t>(*timeout, INT64_MAX)));
    auto outcome = co_await waiter->wait(limit);
    switch (outcome.status) {
        case PresetWaiter::Status::value:
            co_return std::move(*outcome.value);
        case PresetWaiter::Status::ended:
            throw PresetSegmentHandlerError(PresetSegmentHandlerError::Case::incompleteReceive);
        case PresetWaiter::Status::timeout:
            break;
    }
    throw PresetSegmentHandlerError(PresetSegmentHandlerError::Case::timeout);
}

void PresetSegmentHandler::close() {
    std::vector<Subscriber> subscribers;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        subscribers.swap(subscribers_);
    }
    for (auto& s : subscribers) {
        if (auto waiter = s.waiter.lock()) waiter->end();
    }
}

std::size_t PresetSegmentHandler::pendingPresetCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

std::size_t PresetSegmentHandler::pendingByteCount() const {
    std::lock_guard lock(mutex_);
    return pendingBytes_;
}

}  // namespace zelto
