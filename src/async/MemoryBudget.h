#pragma once

// One bound on the memory that a set of queues holds at once. Every queue
// that shares the budget charges an element's footprint when it takes the
// element in and gives it back when the element leaves (read, run or
// dropped); an element that does not fit is refused, and the queue drops
// something. Lock-free: `tryCharge` and `release` may be called from any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace zelto {

class MemoryBudget {
  public:
    explicit MemoryBudget(std::size_t limit = std::numeric_limits<std::size_t>::max()) noexcept
        : limit_(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // Takes `bytes` when they fit under the limit; else takes nothing,
    // counts a refusal and returns false.
    bool tryCharge(std::size_t bytes) noexcept {
        const std::size_t limit = limit_.load(std::memory_order_relaxed);
        std::size_t used = used_.load(std::memory_order_relaxed);
        do {
            if (bytes > limit || used > limit - bytes) {
                refused_.fetch_add(1, std::memory_order_relaxed);
                return false;
            }
        } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        raisePeak(used + bytes);
        return true;
    }
    // Gives back what an earlier tryCharge took.
    void release(std::size_t bytes) noexcept { used_.fetch_sub(bytes, std::memory_order_relaxed); }

    std::size_t limit() const noexcept { return limit_.load(std::memory_order_relaxed); }
    // Later charges see the new limit; what is held stays held.
    void setLimit(std::size_t limit) noexcept { limit_.store(limit, std::memory_order_relaxed); }
    std::size_t used() const noexcept { return used_.load(std::memory_order_relaxed); }
    // The most that was ever held at once.
    std::size_t peak() const noexcept { return peak_.load(std::memory_order_relaxed); }
    std::uint64_t refusedCount() const noexcept { return refused_.load(std::memory_order_relaxed); }

  private:
    void raisePeak(std::size_t value) noexcept {
        std::size_t peak = peak_.load(std::memory_order_relaxed);
        while (value > peak && !peak_.compare_exchange_weak(peak, value, std::memory_order_relaxed)) {
        }
    }

    std::atomic<std::size_t> limit_;
    std::atomic<std::size_t> used_{0};
    std::atomic<std::size_t> peak_{0};
    std::atomic<std::uint64_t> refused_{0};
};

}  // namespace zelto
