#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <exception>
#include <string>
#include <vector>

#include "device/RemoteZeltoPreset.h"
#include "device/detail/Waiter.h"

namespace zelto {

struct PresetSegment {
    std::string presetName;  // as sent, ".ZELTOshow" included
    std::vector<std::uint8_t> bytes;
    std::int32_t index = 0;
    std::int32_t totalCount = 0;
    std::string deviceName;
    std::string deviceUid;
    std::chrono::steady_clock::time_point received = std::chrono::steady_clock::now();
};

class PresetSegmentHandlerError : public std::exception {
public:
    enum class Case { timeout, incompleteReceive };
    explicit PresetSegmentHandlerError(Case c) noexcept : case_(c) {}
    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return case_ == Case::timeout ? "timeout" : "incompleteReceive"; }

private:
    Case case_;
};

// Reassembles the segments a device sends into presets and hands each
// completed preset to the coroutines waiting at that moment. Memory is
// bounded: bogus totals are ignored, stale presets dropped, and only a few
// presets may be pending at once.
class PresetSegmentHandler {
public:
    struct Limits {
        std::int32_t maxSegments = 65536;
        std::size_t maxPendingPresets = 8;
        std::size_t maxPendingBytes = 64u << 20;
        std::chrono::nanoseconds staleAfter = std::chrono::seconds(60);
    };
    using PresetWaiter = detail::Waiter<RemoteZeltoPreset>;

    explicit PresetSegmentHandler(asio::any_io_executor executor);
    PresetSegmentHandler(asio::any_io_executor executor, Limits limits);
    ~PresetSegmentHandler();
    PresetSegmentHandler(const PresetSegmentHandler&) = delete;
    PresetSegmentHandler& operator=(const PresetSegmentHandler&) = delete;

    // Takes one segment; completes the preset when every index is present.
    void addSegment(PresetSegment segment);

    // The first preset completed after this call (of the given plain name
    // when one is given). Throws PresetSegmentHandlerError.
    asio::awaitable<RemoteZeltoPreset> awaitPreset(std::optional<std::uint64_t> timeout);

    // Registers a waiter now, to be awaited later with awaitPreset(waiter, ...):
    // a preset completed between the two is kept for it.
    std::shared_ptr<PresetWaiter> subscribe(std::optional<std::string> name = std::nullopt);
    static asio::awaitable<RemoteZeltoPreset> awaitPreset(std::shared_ptr<PresetWaiter> waiter,
                                                          std::optional<std::uint64_t> timeout);

    // Ends every waiting coroutine with incompleteReceive.
    void close();

    std::size_t pendingPresetCount() const;
    std::size_t pendingByteCount() const;

private:
    struct Pending {
        std::int32_t totalCount = 0;
        std::map<std::int32_t, std::vector<std::uint8_t>> parts;
        std::size_t byteCount = 0;
        std::chrono::steady_clock::time_point lastReceived;
        std::uint64_t firstSeen = 0;
    };
    struct Subscriber {
        std::weak_ptr<PresetWaiter> waiter;
        std::optional<std::string> name;
    };

    void dropStale(std::chrono::steady_clock::time_point now);
    void dropOldest();
    void erase(const std::string& name);
    void publish(const RemoteZeltoPreset& preset);

    asio::any_io_executor executor_;
    Limits limits_;
    mutable std::mutex mutex_;
    std::map<std::string, Pending> pending_;
    std::size_t pendingBytes_ = 0;
    std::uint64_t arrivals_ = 0;
    std::vector<Subscriber> subscribers_;
    bool closed_ = false;
};

}  // namespace zelto
