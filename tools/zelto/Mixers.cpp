#include "Mixers.h"

#include <algorithm>
#include <tuple>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <chrono>
#include <csignal>
#include <future>
#include <iostream>

#include "osc/OSCMessage.h"

namespace zelto::cli {

namespace {

constexpr std::uint16_t kFirstListenPort = 9112;
constexpr auto kRetryInterval = std::chrono::milliseconds(250);
constexpr auto kShutdownDeadline = std::chrono::seconds(5);

}  // namespace

class Mixers::Watcher : public ZeltoDeviceDelegate {
  public:
    explicit Watcher(Mixers& owner) : owner_(owner) {}
    void deviceDidComeOnline(ZeltoDevice&) override { poke(); }
    void deviceDidDisconnect(ZeltoDevice&, std::exception_ptr) override { poke(); }
    void device(ZeltoDevice&, const ZeltoUser&) override { poke(); }

  private:
    void poke() {
        std::lock_guard lock(owner_.mutex_);
        owner_.changed_.notify_all();
    }
    Mixers& owner_;
};

Mixers::Mixers(NetworkOptions options)
    : options_(std::move(options)),
      pool_(std::make_unique<IoPool>(2)),
      queue_(pool_->makeStrand()),
      watcher_(std::make_shared<Watcher>(*this)) {}

Mixers::~Mixers() {
    for (auto& device : devices_) device->disconnect();
    devices_.clear();
    if (discoverer_) {
        discoverer_->setNewDeviceHandler({});
        discoverer_->stop();
    }
    // The closed sockets and cancelled timers complete on the pool; it is
    // destroyed only once nothing of the sessions is left on it.
    pool_->drain(kShutdownDeadline);
    discoverer_.reset();
}

std::uint64_t Mixers::timeoutNanoseconds() const {
    return static_cast<std::uint64_t>(options_.timeoutSeconds * 1e9);
}

void Mixers::runInterruptible(Task<void> task) {
    // Shared with the handlers, which may run after this returns.
    struct Run {
        explicit Run(asio::io_context& io) : signals(io, SIGINT) {}
        asio::signal_set signals;
        asio::cancellation_signal cancel;
        bool finished = false;  // on the strand
        std::promise<void> done;
    };
    auto strand = pool_->makeStrand();
    auto run = std::make_shared<Run>(pool_->context());
    run->signals.async_wait(asio::bind_executor(strand, [run](std::error_code error, int) {
        if (!error && !run->finished) run->cancel.emit(asio::cancellation_type::terminal);
    }));
    asio::co_spawn(strand, std::move(task),
                   asio::bind_cancellation_slot(run->cancel.slot(), [run](std::exception_ptr error) {
                       run->finished = true;
                       std::error_code ignored;
                       run->signals.cancel(ignored);
                       if (error)
                           run->done.set_exception(error);
                       else
                           run->done.set_value();
                   }));
    run->done.get_future().get();
}

bool Mixers::resolveHosts() {
    asio::ip::udp::resolver resolver(pool_->context());
    for (const auto& host : options_.hosts) {
        std::error_code ec;
        auto address = asio::ip::make_address_v4(host, ec);
        if (!ec) {
            hostAddresses_.push_back(address.to_string());
            continue;
        }
        auto results = resolver.resolve(asio::ip::udp::v4(), host, "9110", ec);
        if (ec || results.empty()) {
            std::cerr << "zelto: cannot resolve --host " << host << " (" << ec.message()
                      << "); give the mixer's IPv4 address instead\n";
            return false;
        }
        hostAddresses_.push_back(results.begin()->endpoint().address().to_string());
    }
    return true;
}

// The discovery request, sent straight to each host instead of broadcast.
void Mixers::askHostsDirectly() {
    auto message = OSCMessage::make(
        "/ZELTOorvel/control/ConnectRequest",
        {OSCValue(std::int32_t(ZeltoDiscoverer::discoveryPort)),
         OSCValue(std::int32_t(ZeltoDevice::connectRequestMagic)), OSCValue(ZeltoDiscoverer::clientTag)});
    auto bytes = message->encode();
    asio::ip::udp::socket socket(pool_->context());
    std::error_code ec;
    socket.open(asio::ip::udp::v4(), ec);
    if (ec) return;
    std::vector<std::string> answered;
    {
        std::lock_guard lock(mutex_);
        for (auto& f : found_) answered.push_back(f.endpoint.host);
    }
    for (const auto& host : hostAddresses_) {
        if (std::find(answered.begin(), answered.end(), host) != answered.end()) continue;
        asio::ip::udp::endpoint to(asio::ip::make_address_v4(host), ZeltoDiscoverer::devicePort);
        socket.send_to(asio::buffer(bytes), to, 0, ec);
    }
}

bool Mixers::allHostsAnswered() const {
    for (const auto& host : hostAddresses_) {
        bool answered = false;
        for (auto& f : found_) answered = answered || f.endpoint.host == host;
        if (!answered) return false;
    }
    return true;
}

bool Mixers::discover() {
    if (!resolveHosts()) return false;
    if (options_.noBroadcast && hostAddresses_.empty()) {
        std::cerr << "zelto: --no-broadcast without any --host leaves no mixer to ask; add --host ADDR\n";
        return false;
    }
    auto handler = [this](const OSCEndpoint& sender, const std::string& uid) {
        std::lock_guard lock(mutex_);
        for (auto& f : found_) {
            if (f.uid == uid) return;
        }
        found_.push_back({sender, uid});
        changed_.notify_all();
    };
    discoverer_ = std::make_unique<ZeltoDiscoverer>(pool_->context(), queue_, handler);
    try {
        discoverer_->start(1'000'000'000);
    } catch (const std::exception& e) {
        std::cerr << "zelto: cannot listen for mixer answers on UDP port " << ZeltoDiscoverer::discoveryPort
                  << " (" << e.what()
                  << "); close the other program that uses it (the desktop application?) and retry\n";
        return false;
    }
    if (!options_.noBroadcast) {
        discoverer_->setUnicastHosts(hostAddresses_);
        // A pass runs on the queue that processes the answers.
        asio::post(queue_, [d = discoverer_.get()] { d->discover(); });
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(timeoutNanoseconds());
    std::unique_lock lock(mutex_);
    while (std::chrono::steady_clock::now() < deadline) {
        // Only when every mixer asked for by address has answered can the wait end early:
        // a broadcast may still bring answers from unknown mixers.
        if (options_.noBroadcast && allHostsAnswered()) break;
        if (options_.noBroadcast) {
            lock.unlock();
            askHostsDirectly();
            lock.lock();
        }
        changed_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + kRetryInterval));
    }
    return true;
}

std::vector<Mixers::Found> Mixers::found() const {
    std::lock_guard lock(mutex_);
    return found_;
}

const std::vector<DevicePtr>& Mixers::connectAll() {
    auto mixers = found();
    // By address, not by who answered first: every command then lists the
    // same mixers in the same order, run after run.
    auto order = [](const Found& f) {
        std::error_code ec;
        auto address = asio::ip::make_address(f.endpoint.host, ec);
        return std::make_tuple(ec ? 1 : 0, address.is_v4() ? address.to_v4().to_uint() : 0u, f.endpoint.host,
                               f.endpoint.port, f.uid);
    };
    std::sort(mixers.begin(), mixers.end(), [&](const Found& x, const Found& y) { return order(x) < order(y); });
    std::uint16_t port = kFirstListenPort;
    for (const auto& f : mixers) {
        auto device = ZeltoDevice::make(pool_->context(), f.endpoint, port++, f.uid);
        if (!device) {
            std::cerr << "zelto: mixer " << f.uid << " answered from " << f.endpoint.host
                      << ", which is not an IPv4 address; it is left out\n";
            continue;
        }
        device->setDelegate(watcher_);
        try {
            run(device->connect(timeoutNanoseconds()));
        } catch (const std::exception& e) {
            std::cerr << "zelto: cannot open a session with the mixer at " << f.endpoint.host << " ("
                      << e.what() << "); check that it is on and that local UDP port " << device->listenPort()
                      << " is free, or raise --timeout\n";
            device->disconnect();
            ++leftOut_;
            continue;
        }
        devices_.push_back(std::move(device));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(timeoutNanoseconds());
    std::unique_lock lock(mutex_);
    for (auto it = devices_.begin(); it != devices_.end();) {
        auto& device = *it;
        changed_.wait_until(lock, deadline, [&] { return device->online() || !device->connected(); });
        if (device->online()) {
            ++it;
            continue;
        }
        std::cerr << "zelto: the mixer at " << device->ip().to_string()
                  << " did not come online in time; it is left out (raise --timeout to wait longer)\n";
        lock.unlock();
        device->disconnect();
        lock.lock();
        it = devices_.erase(it);
        ++leftOut_;
    }
    return devices_;
}

bool Mixers::everyHostConnected() const {
    for (const auto& host : hostAddresses_) {
        bool connected = false;
        for (const auto& device : devices_) connected = connected || device->ip().to_string() == host;
        if (!connected) return false;
    }
    return true;
}

void Mixers::flush(const std::vector<DevicePtr>& devices) {
    for (const auto& device : devices) {
        if (!device) continue;
        try {
            run(device->requestPresetList(std::max<std::uint64_t>(timeoutNanoseconds(), 1'000'000'000)));
        } catch (const std::exception& e) {
            std::cerr << "zelto: " << label(device) << " did not confirm that it took everything in ("
                      << e.what() << "); check its preset list with 'zelto list " << device->ip().to_string()
                      << "'\n";
        }
    }
}

DevicePtr Mixers::resolve(const std::string& source) const {
    for (const auto& device : devices_) {
        if (device->ip().to_string() == source || device->uid() == source || device->name() == source)
            return device;
    }
    return nullptr;
}

std::string Mixers::label(const DevicePtr& device) {
    return device->description();
}

}  // namespace zelto::cli
