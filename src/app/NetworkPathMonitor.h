#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>

#include "async/Executor.h"

namespace zelto {

// Reports changes of the network path: links, addresses and routes, read from
// a netlink route socket on the io pool. A burst of kernel messages (one link
// coming up brings several) within `settle` is one path update, handed to
// `queue`.
class NetworkPathMonitor {
  public:
    using Handler = std::function<void()>;

    NetworkPathMonitor(asio::io_context& io, Executor queue,
                       std::chrono::milliseconds settle = std::chrono::milliseconds(250));
    ~NetworkPathMonitor();
    NetworkPathMonitor(const NetworkPathMonitor&) = delete;
    NetworkPathMonitor& operator=(const NetworkPathMonitor&) = delete;

    // Opens the socket and calls `handler` on the queue for every path update.
    // Throws std::system_error when the socket cannot be opened.
    void start(Handler handler);
    // No update is handed over after this returns.
    void cancel();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace zelto
