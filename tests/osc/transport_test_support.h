#pragma once

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "async/AsyncTestSupport.h"
#include "osc/OSCServer.h"

namespace zelto::test {

inline constexpr std::uint64_t kMillisecond = 1'000'000;
inline constexpr std::uint64_t kSecond = 1'000'000'000;

inline OSCMessage message(std::string_view address, std::initializer_list<OSCValue> values = {}) {
    return *OSCMessage::make(address, values);
}

// A plain UDP peer that sends raw datagrams from its own port.
class Peer {
  public:
    explicit Peer(const std::string& address = "127.0.0.1") : socket_(io_) {
        auto ip = asio::ip::make_address(address);
        socket_.open(ip.is_v4() ? asio::ip::udp::v4() : asio::ip::udp::v6());
        socket_.bind({ip, 0});
        target_ = ip;
    }
    void send(std::uint16_t port, std::span<const std::uint8_t> bytes) {
        socket_.send_to(asio::buffer(bytes.data(), bytes.size()), asio::ip::udp::endpoint(target_, port));
    }
    void send(std::uint16_t port, const OSCMessage& m) { send(port, m.encode()); }
    void send(std::uint16_t port, const OSCBundle& b) { send(port, b.encode()); }
    std::uint16_t port() const { return socket_.local_endpoint().port(); }

  private:
    asio::io_context io_;
    asio::ip::udp::socket socket_;
    asio::ip::address target_;
};

// Records what a server reports; tests wait on it.
class ServerEvents : public OSCServerDelegate {
  public:
    void serverDidStop(std::exception_ptr error) override { add("stop", error ? "error" : ""); }
    void newConnectionEstablished(std::shared_ptr<OSCConnection> connection) override {
        if (onConnection) onConnection(connection);
        add("connection", connection->description());
    }
    std::function<void(const std::shared_ptr<OSCConnection>&)> onConnection;

    void add(const std::string& kind, const std::string& detail) {
        std::lock_guard lock(mutex_);
        events_.emplace_back(kind, detail);
        changed_.notify_all();
    }
    std::vector<std::string> details(const std::string& kind) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (auto& [k, d] : events_)
            if (k == kind) out.push_back(d);
        return out;
    }
    bool waitFor(const std::string& kind, std::size_t count = 1,
                 std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] {
            std::size_t n = 0;
            for (auto& entry : events_) n += entry.first == kind;
            return n >= count;
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::string, std::string>> events_;
};

// Collects values handed over from other threads and wakes a waiting test.
template <class T>
class Inbox {
  public:
    void put(T value) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }
    std::vector<T> waitFor(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, deadline, [&] { return values_.size() >= count; });
        return values_;
    }
    std::vector<T> values() {
        std::lock_guard lock(mutex_);
        return values_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

// A started server on 127.0.0.1 and ::1, port picked by the system.
struct ServerFixture : ::testing::Test {
    void SetUp() override {
        server = std::make_shared<OSCServer>(0, events, pool.makeStrand());
        server->start();
        port = *server->localPort();
    }
    void TearDown() override { server->cancel(); }

    // The outcome of a read, as text: the address, or the error's case name.
    static Task<std::string> outcome(Task<OSCMessage> read) {
        try {
            auto m = co_await std::move(read);
            co_return std::string(m.address().address());
        } catch (const OSCConnectionError& e) {
            co_return e.what();
        }
    }
    std::string run(Task<std::string> task) { return runWithDeadline(pool.executor(), std::move(task)); }

    IoPool pool{2};
    std::shared_ptr<ServerEvents> events = std::make_shared<ServerEvents>();
    std::shared_ptr<OSCServer> server;
    std::uint16_t port = 0;
};

}  // namespace zelto::test
