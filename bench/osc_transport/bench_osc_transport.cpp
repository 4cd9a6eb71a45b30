// Receiving preset-segment-sized datagrams on loopback: the full server path
// (socket, decoding, one connection, the server's objects stream, a reader)
// against a plain Asio receive loop that only counts, in the same run.
//
// A sender thread sends through one plain socket, at most `window` datagrams
// ahead of what the receiver has taken, so the kernel's receive buffer never
// overflows and a lost datagram means the receiver dropped it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio/detached.hpp>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "async/Executor.h"
#include "osc/OSCServer.h"

namespace zelto {
namespace {

constexpr std::size_t datagramCount = 100'000;
constexpr std::size_t datagramSize = 1000;
// Memory the kernel charges per queued 1,000-byte datagram on loopback, roughly.
constexpr std::size_t chargePerDatagram = 2560;

struct Figures {
    double perSecond = 0;
    std::size_t lost = 0;
};
Figures bestPlain, bestServer;

// A "/ZELTOapp/control/PresetSeg" message of exactly `datagramSize` bytes.
std::vector<std::uint8_t> presetSegment() {
    auto make = [](std::size_t blob) {
        std::vector<std::uint8_t> bytes(blob, 0x5A);
        return *OSCMessage::make(
            "/ZELTOapp/control/PresetSeg",
            {OSCValue("Sunday Service.ZELTOshow"), OSCValue::blob(bytes), OSCValue(std::int32_t(3)),
             OSCValue(std::int32_t(40)), OSCValue("Stage left"), OSCValue("0123456789abcdef")});
    };
    auto fixed = make(0).oscSize();
    return make(datagramSize - fixed).encode();
}

int receiveBufferOf(asio::ip::udp::socket& socket) {
    asio::socket_base::receive_buffer_size size;
    socket.get_option(size);
    return size.value();
}

// Sends `datagramCount` datagrams, never more than `window` ahead of `taken`.
void send(std::uint16_t port, const std::vector<std::uint8_t>& datagram,
          const std::atomic<std::size_t>& taken, std::size_t window) {
    asio::io_context io;
    asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    asio::ip::udp::endpoint to(asio::ip::make_address("127.0.0.1"), port);
    for (std::size_t sent = 0; sent < datagramCount; ++sent) {
        while (sent >= taken.load(std::memory_order_acquire) + window) std::this_thread::yield();
        socket.send_to(asio::buffer(datagram), to);
    }
}

// Both the kernel's buffer and a reader's stream buffer (1,024 objects) must
// hold what is in flight.
std::size_t windowFor(int receiveBuffer) {
    auto kernel = static_cast<std::size_t>(receiveBuffer) / chargePerDatagram / 2;
    return std::clamp<std::size_t>(kernel, 16, 1000);
}

// Waits for the receiver to take everything; after the sender is done, a
// second of silence counts the rest as lost.
std::size_t awaitAll(std::future<void>& done, const std::atomic<std::size_t>& taken) {
    if (done.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return 0;
    return datagramCount - taken.load();
}

void plainLoop(benchmark::State& state) {
    auto datagram = presetSegment();
    for (auto _ : state) {
        asio::io_context io;
        asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        socket.set_option(asio::socket_base::receive_buffer_size(AsyncUdpSocket::receiveBufferBytes));
        if (receiveBufferOf(socket) < AsyncUdpSocket::receiveBufferBytes) {
            int size = AsyncUdpSocket::receiveBufferBytes;
            ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        }
        auto window = windowFor(receiveBufferOf(socket));
        std::atomic<std::size_t> taken{0};
        std::promise<void> all;
        auto done = all.get_future();
        std::vector<std::uint8_t> buffer(65536);
        asio::ip::udp::endpoint from;
        std::function<void()> receive = [&] {
            socket.async_receive_from(asio::buffer(buffer), from, [&](std::error_code ec, std::size_t) {
                if (ec) return;
                if (taken.fetch_add(1, std::memory_order_release) + 1 == datagramCount) {
                    all.set_value();
                    return;
                }
                receive();
            });
        };
        receive();
        std::thread runner([&] { io.run(); });
        auto start = std::chrono::steady_clock::now();
        std::thread sender(send, socket.local_endpoint().port(), std::cref(datagram), std::cref(taken),
                           window);
        auto lost = awaitAll(done, taken);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sender.join();
        io.stop();
        runner.join();
        state.SetIterationTime(seconds);
        double rate = datagramCount / seconds;
        if (lost == 0 && rate > bestPlain.perSecond) bestPlain.perSecond = rate;
        bestPlain.lost += lost;
        state.counters["datagrams_per_s"] = rate;
        state.counters["lost"] = static_cast<double>(lost);
    }
}

Task<void> readAll(SharedAsyncSequence<OSCObjectPtr> objects, std::atomic<std::size_t>* taken,
                   std::promise<void>* all) {
    auto it = objects.makeAsyncIterator();
    while (auto object = co_await it.next()) {
        if (taken->fetch_add(1, std::memory_order_release) + 1 == datagramCount) {
            all->set_value();
            co_return;
        }
    }
}

void serverPath(benchmark::State& state) {
    auto datagram = presetSegment();
    for (auto _ : state) {
        IoPool pool(2);
        auto server = std::make_shared<OSCServer>(0, std::weak_ptr<OSCServerDelegate>(), pool.makeStrand());
        server->start();
        std::atomic<std::size_t> taken{0};
        std::promise<void> all;
        auto done = all.get_future();
        asio::co_spawn(pool.makeStrand(), readAll(*server->objects(), &taken, &all), asio::detached);
        // The same window as the plain loop gets.
        asio::io_context io;
        asio::ip::udp::socket probe(io, asio::ip::udp::v4());
        probe.set_option(asio::socket_base::receive_buffer_size(AsyncUdpSocket::receiveBufferBytes));
        if (receiveBufferOf(probe) < AsyncUdpSocket::receiveBufferBytes) {
            int size = AsyncUdpSocket::receiveBufferBytes;
            ::setsockopt(probe.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        }
        auto window = windowFor(receiveBufferOf(probe));

        auto start = std::chrono::steady_clock::now();
        std::thread sender(send, *server->localPort(), std::cref(datagram), std::cref(taken), window);
        auto lost = awaitAll(done, taken);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sender.join();
        server->cancel();
        state.SetIterationTime(seconds);
        double rate = datagramCount / seconds;
        if (lost == 0 && rate > bestServer.perSecond) bestServer.perSecond = rate;
        bestServer.lost += lost;
        state.counters["datagrams_per_s"] = rate;
        state.counters["lost"] = static_cast<double>(lost);
    }
}

BENCHMARK(plainLoop)
    ->Name("plain Asio receive loop")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(serverPath)
    ->Name("OSCServer to objects reader")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelto

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    using zelto::bestPlain;
    using zelto::bestServer;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\n%zu datagrams of %zu bytes on loopback, best of three\n", zelto::datagramCount,
                zelto::datagramSize);
    std::printf("%-30s %14s %8s\n", "path", "datagrams/s", "lost");
    std::printf("%-30s %14.0f %8zu\n", "plain Asio receive loop", bestPlain.perSecond, bestPlain.lost);
    std::printf("%-30s %14.0f %8zu\n", "OSCServer to objects reader", bestServer.perSecond, bestServer.lost);
    if (bestPlain.perSecond > 0)
        std::printf("ratio server/plain: %.2f\n", bestServer.perSecond / bestPlain.perSecond);
    std::printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
