#include "device/PresetSegmentHandler.h"

#include <algorithm>
#include <asio/error.hpp>
#include <asio/system_error.hpp>

namespace zelto {

namespace {

// Only the file suffix at the end goes: a name may hold ".ZELTOshow" itself.
std::string withoutFileSuffix(std::string name) {
    static const std::string suffix = ".ZELTOshow";
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.erase(name.size() - suffix.size());
    return name;
}

}  // namespace

std::optional<RemoteZeltoPreset> PresetSegmentAssembler::add(PresetSegment segment) {
    dropStale(segment.received);
    auto found = pending_.find(segment.presetName);
    if (found == pending_.end()) {
        if (segment.totalCount < 0 || segment.totalCount > limits_.maxSegments) return std::nullopt;
        while (pending_.size() >= limits_.maxPendingPresets) dropOldest();
        found = pending_.emplace(segment.presetName, Pending{}).first;
        found->second.totalCount = segment.totalCount;
        found->second.firstSeen = ++arrivals_;
    }
    found->second.lastReceived = segment.received;
    bool fresh = segment.index >= 0 && segment.index < found->second.totalCount &&
                 !found->second.parts.count(segment.index);
    if (fresh) {
        std::size_t size = segment.bytes.size();
        while (pendingBytes_ + size > limits_.maxPendingBytes && pending_.size() > 1) {
            auto oldest =
                std::min_element(pending_.begin(), pending_.end(), [&](const auto& a, const auto& b) {
                    // Never pick the preset this segment belongs to while others remain.
                    if (a.first == segment.presetName) return false;
                    if (b.first == segment.presetName) return true;
                    return a.second.firstSeen < b.second.firstSeen;
                });
            erase(oldest->first);
        }
        found = pending_.find(segment.presetName);
        if (pendingBytes_ + size > limits_.maxPendingBytes) {
            erase(segment.presetName);
            return std::nullopt;
        }
        found->second.byteCount += size;
        pendingBytes_ += size;
        found->second.parts.emplace(segment.index, std::move(segment.bytes));
    }
    Pending& current = found->second;
    if (static_cast<std::int64_t>(current.parts.size()) < current.totalCount) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(current.byteCount);
    for (auto& [index, part] : current.parts) bytes.insert(bytes.end(), part.begin(), part.end());
    RemoteZeltoPreset preset(withoutFileSuffix(segment.presetName));
    preset.bytes = std::move(bytes);
    erase(segment.presetName);
    return preset;
}

void PresetSegmentAssembler::dropStale(std::chrono::steady_clock::time_point now) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now - it->second.lastReceived > limits_.staleAfter) {
            pendingBytes_ -= it->second.byteCount;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

void PresetSegmentAssembler::dropOldest() {
    auto oldest = std::min_element(pending_.begin(), pending_.end(), [](const auto& a, const auto& b) {
        return a.second.firstSeen < b.second.firstSeen;
    });
    if (oldest != pending_.end()) erase(oldest->first);
}

void PresetSegmentAssembler::erase(const std::string& name) {
    auto found = pending_.find(name);
    if (found == pending_.end()) return;
    pendingBytes_ -= found->second.byteCount;
    pending_.erase(found);
}

PresetSegmentHandler::PresetSegmentHandler(asio::any_io_executor executor, Limits limits)
    : executor_(std::move(executor)), assembler_(limits) {}

PresetSegmentHandler::~PresetSegmentHandler() {
    close();
}

void PresetSegmentHandler::addSegment(PresetSegment segment) {
    std::string sentName = withoutFileSuffix(segment.presetName);
    std::lock_guard lock(mutex_);
    if (auto preset = assembler_.add(std::move(segment))) publish(*preset, sentName);
}

// A named waiter asked for the name its mixer lists. Some mixers send a preset
// under that name, others append the preset's date to it: the preset is its
// when the sent name is the asked one, or is the asked one plus a date.
void PresetSegmentHandler::publish(const RemoteZeltoPreset& preset, const std::string& sentName) {
    std::erase_if(subscribers_, [&](const Subscriber& s) {
        auto waiter = s.waiter.lock();
        if (!waiter || waiter->done()) return true;
        if (!s.name) {
            waiter->deliver(preset);
        } else if (*s.name == sentName) {
            RemoteZeltoPreset asked = preset;
            asked.name = sentName;
            asked.date.reset();
            waiter->deliver(std::move(asked));
        } else if (preset.date && *s.name == preset.name) {
            waiter->deliver(preset);
        } else {
            return false;
        }
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
    auto waiter = subscribe();
    auto wait = awaitPreset(std::move(waiter), timeout);
    RemoteZeltoPreset preset = co_await std::move(wait);
    co_return preset;
}

asio::awaitable<RemoteZeltoPreset> PresetSegmentHandler::awaitPreset(std::shared_ptr<PresetWaiter> waiter,
                                                                     std::optional<std::uint64_t> timeout) {
    std::optional<std::chrono::nanoseconds> limit;
    // Clamped so that the deadline cannot overflow the clock.
    constexpr std::uint64_t longest = 100ull * 365 * 24 * 3600 * 1'000'000'000ull;
    if (timeout) limit = std::chrono::nanoseconds(static_cast<std::int64_t>(std::min(*timeout, longest)));
    auto wait = waiter->wait(limit);
    auto outcome = co_await std::move(wait);
    switch (outcome.status) {
        case PresetWaiter::Status::value:
            co_return std::move(*outcome.value);
        case PresetWaiter::Status::ended:
            throw PresetSegmentHandlerError(PresetSegmentHandlerError::Case::incompleteReceive);
        case PresetWaiter::Status::cancelled:
            throw asio::system_error(asio::error::operation_aborted);
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
    return assembler_.pendingPresetCount();
}

std::size_t PresetSegmentHandler::pendingByteCount() const {
    std::lock_guard lock(mutex_);
    return assembler_.pendingByteCount();
}

}  // namespace zelto
