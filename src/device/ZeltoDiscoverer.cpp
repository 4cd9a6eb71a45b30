#include "device/ZeltoDiscoverer.h"

#include <asio/bind_executor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "async/Log.h"
#include "device/Interface.h"
#include "device/UserInfo.h"
#include "osc/OSCAddressPattern.h"
#include "osc/OSCClient.h"
#include "osc/OSCConnection.h"
#include "osc/OSCServer.h"

namespace zelto {

struct ZeltoDiscoverer::State : OSCServerDelegate, std::enable_shared_from_this<State> {
    State(asio::io_context& io, asio::any_io_executor queue, NewDeviceHandler handler, ZeltoTimings timings)
        : io(io),
          queue(std::move(queue)),
          timings(timings),
          client(std::make_shared<OSCClient>("127.0.0.1", discoveryPort, makeStrand(io.get_executor()))),
          handler(std::move(handler)) {}

    void newConnectionEstablished(std::shared_ptr<OSCConnection> connection) override {
        // Registered before the peer's first datagram is dispatched, so a
        // device's first answer counts.
        std::weak_ptr<State> weak = weak_from_this();
        connection->dispatcher().addCallback(*OSCAddressPattern::make("/ZELTOapp/control/UserInfo"),
                                             [weak](const OSCAddressPattern&, const OSCMessage& message) {
                                                 auto self = weak.lock();
                                                 if (!self) return;
                                                 asio::post(self->queue, [weak, message] {
                                                     if (auto self = weak.lock()) self->processReply(message);
                                                 });
                                             });
    }
    void serverDidStop(std::exception_ptr) override {}

    void processReply(const OSCMessage& message) {
        if (!message.endpoint()) return;
        auto info = UserInfo::fromMessage(message);
        if (!info) return;
        NewDeviceHandler call;
        {
            std::lock_guard lock(mutex);
            if (stopped) return;
            for (const auto& uid : alreadyDiscovered) {
                if (uid == info->uid) return;
            }
            alreadyDiscovered.push_back(info->uid);
            call = handler;
        }
        if (!call) return;
        // The owner's code: a failure is reported and discovery goes on.
        try {
            call(*message.endpoint(), info->uid);
        } catch (const std::exception& e) {
            logFormat(LogCategory::device, LogLevel::warning, "new device handler failed: %s", e.what());
        } catch (...) {
            logLine(LogCategory::device, LogLevel::warning, "new device handler failed");
        }
    }

    bool running(std::uint64_t run) {
        std::lock_guard lock(mutex);
        return !stopped && run == runs;
    }

    // On `queue`. A completion already queued when stop() cancelled the timer
    // still arrives without an error: the run number tells it to do nothing.
    void scheduleTimer(std::uint64_t run) {
        if (!running(run)) return;
        timer->expires_after(timings.discoveryInterval);
        timer->async_wait(asio::bind_executor(queue, [weak = weak_from_this(), run](std::error_code ec) {
            auto self = weak.lock();
            if (ec || !self || !self->running(run)) return;
            self->discover();
            self->scheduleTimer(run);
        }));
    }

    // Holds the lock for the whole pass, so that stop() waits for a pass under way.
    void discover(std::uint16_t answerPort) {
        std::lock_guard lock(mutex);
        if (stopped) return;
        alreadyDiscovered.clear();
        auto request = *OSCMessage::make(
            "/ZELTOorvel/control/ConnectRequest",
            {OSCValue(std::int32_t(answerPort)), OSCValue(std::int32_t(50414)), OSCValue(clientTag)});
        for (const auto& entry : broadcast ? Interface::allInterfaces() : std::vector<Interface>{}) {
            if (!entry.isUp() || !entry.isRunning() || entry.isLoopback() ||
                entry.family == Interface::Family::ipv6) {
                continue;
            }
            if (entry.broadcastAddress) {
                client->sendMessage(request, *entry.broadcastAddress, devicePort, timings.sendTimeout);
            } else {
                logFormat(LogCategory::device, LogLevel::info,
                          "Skipping %s no valid broadcast address provided", entry.name.c_str());
            }
        }
        for (const auto& host : unicastHosts)
            client->sendMessage(request, host, devicePort, timings.sendTimeout);
    }
    void discover() { discover(answerPort); }

    asio::io_context& io;
    asio::any_io_executor queue;
    ZeltoTimings timings;
    std::shared_ptr<OSCClient> client;
    std::shared_ptr<OSCServer> server;
    // Runs on the io pool, its handler on `queue`: a GUI thread's executor
    // has no timer service of its own.
    std::optional<asio::steady_timer> timer;  // used on `queue` only
    std::uint16_t answerPort = discoveryPort;

    std::mutex mutex;
    bool stopped = false;
    std::uint64_t runs = 0;  // one per start
    std::vector<std::string> alreadyDiscovered;
    NewDeviceHandler handler;
    std::vector<std::string> unicastHosts;
    bool broadcast = true;
};

ZeltoDiscoverer::ZeltoDiscoverer(asio::io_context& io, asio::any_io_executor queue, NewDeviceHandler handler,
                                 ZeltoTimings timings)
    : state_(std::make_shared<State>(io, std::move(queue), std::move(handler), timings)) {}

ZeltoDiscoverer::~ZeltoDiscoverer() {
    stop();
}

void ZeltoDiscoverer::start(std::uint64_t timeout) {
    std::uint64_t run;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopped = false;
        run = ++state_->runs;
    }
    state_->answerPort = listenPort_;
    state_->server = std::make_shared<OSCServer>(listenPort_, state_, makeStrand(state_->io.get_executor()),
                                                 decoderFunction<OSCStandardDecoder>(), std::nullopt);
    state_->server->start(timeout);
    auto state = state_;
    asio::post(state->queue, [state, run] {
        if (!state->timer) state->timer.emplace(state->io);
        state->scheduleTimer(run);
    });
}

void ZeltoDiscoverer::discover() {
    state_->discover(listenPort_);
}

// Passes, replies and the handler end here; the timer is cancelled on the queue.
void ZeltoDiscoverer::stop() {
    auto state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->stopped = true;
    }
    asio::post(state->queue, [state] {
        if (state->timer) state->timer->cancel();
    });
    if (state->server) {
        state->server->cancel();
        state->server.reset();
    }
}

ZeltoDiscoverer::NewDeviceHandler ZeltoDiscoverer::newDeviceHandler() const {
    std::lock_guard lock(state_->mutex);
    return state_->handler;
}

void ZeltoDiscoverer::setNewDeviceHandler(NewDeviceHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

std::vector<std::string> ZeltoDiscoverer::unicastHosts() const {
    std::lock_guard lock(state_->mutex);
    return state_->unicastHosts;
}

void ZeltoDiscoverer::setUnicastHosts(std::vector<std::string> hosts) {
    std::lock_guard lock(state_->mutex);
    state_->unicastHosts = std::move(hosts);
}

}  // namespace zelto

namespace zelto {

bool ZeltoDiscoverer::broadcast() const {
    std::lock_guard lock(state_->mutex);
    return state_->broadcast;
}

void ZeltoDiscoverer::setBroadcast(bool enabled) {
    std::lock_guard lock(state_->mutex);
    state_->broadcast = enabled;
}

}  // namespace zelto
