#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "async/Executor.h"
#include "device/ZeltoDevice.h"
#include "device/ZeltoDiscoverer.h"
#include "sync/ZeltoPresetManager.h"

namespace zelto::cli {

// Finds the mixers a command needs and holds their sessions for the
// command's run.
class Mixers {
  public:
    struct Found {
        OSCEndpoint endpoint;
        std::string uid;
    };

    explicit Mixers(NetworkOptions options);
    ~Mixers();
    Mixers(const Mixers&) = delete;
    Mixers& operator=(const Mixers&) = delete;

    // Broadcasts (unless disabled) and asks every --host, then waits for the
    // answers. False, with the reason on standard error, when discovery
    // could not run at all.
    bool discover();
    std::vector<Found> found() const;

    // Opens a session with every mixer found and waits until each is online.
    // Mixers that cannot be reached are reported on standard error and left out.
    const std::vector<DevicePtr>& connectAll();
    const std::vector<DevicePtr>& devices() const { return devices_; }
    // False when a mixer asked for with --host has no session (it was
    // reported on standard error): the command then cannot succeed fully.
    bool everyHostConnected() const;
    // How many mixers answered but were left out by connectAll() (no session,
    // or not online in time).
    std::size_t leftOut() const { return leftOut_; }
    // A connected mixer by address, uid or name; none when no mixer matches.
    DevicePtr resolve(const std::string& source) const;
    // Sends to a mixer go out asynchronously and unacknowledged. A list
    // request queued behind them is answered only after the mixer has taken
    // them all in, so waiting for it keeps the program alive until then.
    void flush(const std::vector<DevicePtr>& devices);
    // The mixer's address and its name, for messages.
    static std::string label(const DevicePtr& device);

    template <class T>
    T run(Task<T> task) {
        return blockOn(pool_->executor(), std::move(task));
    }
    void run(Task<void> task) { blockOn(pool_->executor(), std::move(task)); }
    // The same for a long operation that Ctrl-C (SIGINT) cancels: it then ends
    // with the operation's own cancellation error.
    void runInterruptible(Task<void> task);

    std::uint64_t timeoutNanoseconds() const;

  private:
    class Watcher;
    bool resolveHosts();
    void askHostsDirectly();
    bool allHostsAnswered() const;

    NetworkOptions options_;
    std::vector<std::string> hostAddresses_;
    std::unique_ptr<IoPool> pool_;
    Strand queue_;
    std::shared_ptr<Watcher> watcher_;
    std::unique_ptr<ZeltoDiscoverer> discoverer_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Found> found_;
    std::vector<DevicePtr> devices_;
    std::size_t leftOut_ = 0;
};

}  // namespace zelto::cli
