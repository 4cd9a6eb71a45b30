#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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
    const char* what() const noexcept override {
        return case_ == Case::timeout ? "timeout" : "incompleteReceive";
    }

  private:
    Case case_;
};

// Collects segments and yields a preset once every index of it is present.
// Memory is bounded: bogus totals and out-of-range indices are ignored,
// presets that received nothing for `staleAfter` are dropped, and only a few
// presets and bytes may be pending at once (the oldest goes first). Not
// thread-safe.
class PresetSegmentAssembler {
  public:
    struct Limits {
        std::int32_t maxSegments = 65536;
        std::size_t maxPendingPresets = 8;
        std::size_t maxPendingBytes = 64u << 20;
        std::chrono::nanoseconds staleAfter = std::chrono::seconds(60);
    };

    PresetSegmentAssembler() = default;
    explicit PresetSegmentAssembler(Limits limits) : limits_(limits) {}

    // The completed preset (name without its trailing ".ZELTOshow", date
    // split off), if this segment completed one.
    std::optional<RemoteZeltoPreset> add(PresetSegment segment);

    std::size_t pendingPresetCount() const { return pending_.size(); }
    std::size_t pendingByteCount() const { return pendingBytes_; }

  private:
    struct Pending {
        std::int32_t totalCount = 0;
        std::map<std::int32_t, std::vector<std::uint8_t>> parts;
        std::size_t byteCount = 0;
        std::chrono::steady_clock::time_point lastReceived;
        std::uint64_t firstSeen = 0;
    };

    void dropStale(std::chrono::steady_clock::time_point now);
    void dropOldest();
    void erase(const std::string& name);

    Limits limits_;
    std::map<std::string, Pending> pending_;
    std::size_t pendingBytes_ = 0;
    std::uint64_t arrivals_ = 0;
};

// One device's reassembly: completed presets go to the coroutines waiting at
// that moment (a preset completed while nobody waits is not kept).
class PresetSegmentHandler {
  public:
    using Limits = PresetSegmentAssembler::Limits;
    using PresetWaiter = detail::Waiter<RemoteZeltoPreset>;

    explicit PresetSegmentHandler(asio::any_io_executor executor, Limits limits = {});
    ~PresetSegmentHandler();
    PresetSegmentHandler(const PresetSegmentHandler&) = delete;
    PresetSegmentHandler& operator=(const PresetSegmentHandler&) = delete;

    // Takes one segment; returns at once.
    void addSegment(PresetSegment segment);

    // The first preset completed after this call. Throws PresetSegmentHandlerError,
    // or asio's operation_aborted when the caller's cancellation ends the wait.
    asio::awaitable<RemoteZeltoPreset> awaitPreset(std::optional<std::uint64_t> timeout);

    // Registers a waiter now, to be awaited later: a preset completed in
    // between is kept for it. With a name (as the mixer lists it, without its
    // date), only that preset is taken, sent under that name with or without
    // a date appended; it comes with the asked name.
    std::shared_ptr<PresetWaiter> subscribe(std::optional<std::string> name = std::nullopt);
    static asio::awaitable<RemoteZeltoPreset> awaitPreset(std::shared_ptr<PresetWaiter> waiter,
                                                          std::optional<std::uint64_t> timeout);

    // Ends every waiting coroutine with incompleteReceive.
    void close();

    std::size_t pendingPresetCount() const;
    std::size_t pendingByteCount() const;

  private:
    struct Subscriber {
        std::weak_ptr<PresetWaiter> waiter;
        std::optional<std::string> name;
    };
    void publish(const RemoteZeltoPreset& preset, const std::string& sentName);

    asio::any_io_executor executor_;
    mutable std::mutex mutex_;
    PresetSegmentAssembler assembler_;
    std::vector<Subscriber> subscribers_;
    bool closed_ = false;
};

}  // namespace zelto
