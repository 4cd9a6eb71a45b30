#include "app/NetworkPathMonitor.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <asio/basic_raw_socket.hpp>
#include <asio/bind_executor.hpp>
#include <asio/generic/raw_protocol.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <mutex>
#include <system_error>

namespace zelto {

struct NetworkPathMonitor::State : std::enable_shared_from_this<State> {
    using Socket = asio::basic_raw_socket<asio::generic::raw_protocol, Strand>;

    State(asio::io_context& io, Executor queue, std::chrono::milliseconds settle)
        : strand(makeStrand(io.get_executor())),
          socket(strand),
          timer(strand),
          queue(std::move(queue)),
          settle(settle) {}

    void read() {
        socket.async_receive(asio::buffer(buffer),
                             [self = shared_from_this()](std::error_code ec, std::size_t) {
                                 if (ec == asio::error::operation_aborted || self->stopped) return;
                                 // A lost message (ENOBUFS on overflow) is a change all the same.
                                 self->changed();
                                 self->read();
                             });
    }

    void changed() {
        if (timerArmed) return;
        timerArmed = true;
        timer.expires_after(settle);
        timer.async_wait([self = shared_from_this()](std::error_code ec) {
            self->timerArmed = false;
            if (ec || self->stopped) return;
            std::lock_guard lock(self->mutex);
            if (self->stopped || !self->handler) return;
            asio::post(self->queue, [weak = std::weak_ptr<State>(self)] {
                auto state = weak.lock();
                if (!state || state->stopped) return;
                Handler call;
                {
                    std::lock_guard lock(state->mutex);
                    call = state->handler;
                }
                if (call) call();
            });
        });
    }

    Strand strand;
    Socket socket;             // on `strand`
    asio::steady_timer timer;  // on `strand`
    bool timerArmed = false;   // on `strand`
    std::array<char, 16384> buffer{};
    Executor queue;
    std::chrono::milliseconds settle;
    std::mutex mutex;
    std::atomic<bool> stopped = false;
    Handler handler;
};

NetworkPathMonitor::NetworkPathMonitor(asio::io_context& io, Executor queue, std::chrono::milliseconds settle)
    : state_(std::make_shared<State>(io, std::move(queue), settle)) {}

NetworkPathMonitor::~NetworkPathMonitor() {
    cancel();
}

void NetworkPathMonitor::start(Handler handler) {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "netlink socket");
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), "netlink bind");
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->handler = std::move(handler);
    }
    auto state = state_;
    asio::post(state->strand, [state, fd] {
        std::error_code ec;
        state->socket.assign(asio::generic::raw_protocol(AF_NETLINK, NETLINK_ROUTE), fd, ec);
        if (ec) {
            ::close(fd);
            return;
        }
        if (state->stopped) {
            state->socket.close(ec);
            return;
        }
        state->read();
    });
}

void NetworkPathMonitor::cancel() {
    auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->stopped = true;
        state->handler = nullptr;
    }
    asio::post(state->strand, [state] {
        std::error_code ec;
        state->socket.close(ec);
        state->timer.cancel();
    });
}

}  // namespace zelto
