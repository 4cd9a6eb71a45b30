// Receiving preset-segment-sized datagrams on loopback: the full server path
// (socket, decoding, one connection, the server's objects stream, a reader)
// against a blocking receive loop that only counts (the floor: what the
// kernel can move between two threads), and a plain Asio receive loop, in the
// same run.
//
// A sender thread sends through one plain socket, at most `window` datagrams
// ahead of what the receiver has taken, so the kernel's receive buffer never
// overflows and a lost datagram means the receiver dropped it.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
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
Figures bestBlocking, bestPlain, bestServer;

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
// A blocking sender handing the kernel `sendBatch` datagrams per call: with
// one call per datagram the sender, not the receiver, would set every row's
// pace on this kind of machine.
constexpr std::size_t sendBatch = 32;
void send(std::uint16_t port, const std::vector<std::uint8_t>& datagram,
          const std::atomic<std::size_t>& taken, std::size_t window) {
    asio::io_context io;
    asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::array<iovec, sendBatch> parts{};
    std::array<mmsghdr, sendBatch> messages{};
    for (std::size_t k = 0; k < sendBatch; ++k) {
        parts[k] = {const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
        messages[k].msg_hdr.msg_iov = &parts[k];
        messages[k].msg_hdr.msg_iovlen = 1;
        messages[k].msg_hdr.msg_name = &to;
        messages[k].msg_hdr.msg_namelen = sizeof to;
    }
    for (std::size_t sent = 0; sent < datagramCount;) {
        const std::size_t batch = std::min(sendBatch, datagramCount - sent);
        while (sent + batch > taken.load(std::memory_order_acquire) + window) std::this_thread::yield();
        int n = ::sendmmsg(socket.native_handle(), messages.data(), static_cast<unsigned>(batch), 0);
        if (n > 0) sent += static_cast<std::size_t>(n);
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

void record(benchmark::State& state, Figures& best, double seconds, std::size_t lost) {
    state.SetIterationTime(seconds);
    double rate = datagramCount / seconds;
    if (lost == 0 && rate > best.perSecond) best.perSecond = rate;
    best.lost += lost;
    state.counters["datagrams_per_s"] = rate;
    state.counters["lost"] = static_cast<double>(lost);
}

void enlargeReceiveBuffer(asio::ip::udp::socket& socket) {
    socket.set_option(asio::socket_base::receive_buffer_size(AsyncUdpSocket::receiveBufferBytes));
    if (receiveBufferOf(socket) < AsyncUdpSocket::receiveBufferBytes) {
        int size = AsyncUdpSocket::receiveBufferBytes;
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    }
}

// The floor: a thread blocked in receive, taking one datagram per call.
void blockingLoop(benchmark::State& state) {
    auto datagram = presetSegment();
    for (auto _ : state) {
        asio::io_context io;
        asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        enlargeReceiveBuffer(socket);
        // A receive that waits longer than this has lost its datagram.
        timeval limit{1, 0};
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        auto window = windowFor(receiveBufferOf(socket));
        std::atomic<std::size_t> taken{0};
        std::vector<std::uint8_t> buffer(65536);
        auto start = std::chrono::steady_clock::now();
        std::thread sender(send, socket.local_endpoint().port(), std::cref(datagram), std::cref(taken),
                           window);
        asio::ip::udp::endpoint from;
        std::error_code ec;
        while (taken.load(std::memory_order_relaxed) < datagramCount) {
            socket.receive_from(asio::buffer(buffer), from, 0, ec);
            if (ec) break;
            taken.fetch_add(1, std::memory_order_release);
        }
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::size_t lost = datagramCount - taken.load();
        // Let a sender stuck on its window finish.
        taken.store(datagramCount + datagramCount, std::memory_order_release);
        sender.join();
        record(state, bestBlocking, seconds, lost);
    }
}

void plainLoop(benchmark::State& state) {
    auto datagram = presetSegment();
    for (auto _ : state) {
        asio::io_context io;
        asio::ip::udp::socket socket(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        enlargeReceiveBuffer(socket);
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
        record(state, bestPlain, seconds, lost);
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
        enlargeReceiveBuffer(probe);
        auto window = windowFor(receiveBufferOf(probe));

        auto start = std::chrono::steady_clock::now();
        std::thread sender(send, *server->localPort(), std::cref(datagram), std::cref(taken), window);
        auto lost = awaitAll(done, taken);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sender.join();
        server->cancel();
        record(state, bestServer, seconds, lost);
    }
}

BENCHMARK(blockingLoop)
    ->Name("blocking receive loop")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
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
    using zelto::bestBlocking;
    using zelto::bestPlain;
    using zelto::bestServer;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = usage.ru_maxrss / 1024.0;
    auto ratio = [](double rate) {
        return bestBlocking.perSecond > 0 ? rate / bestBlocking.perSecond : -1.0;
    };
    std::printf("\n%zu datagrams of %zu bytes on loopback, best of the repetitions; ratio = rate / floor\n",
                zelto::datagramCount, zelto::datagramSize);
    std::printf("%-30s %12s %6s %7s %6s\n", "path", "datagrams/s", "lost", "ratio", "goal");
    std::printf("%-30s %12.0f %6zu %7.2f %6s\n", "blocking receive loop (floor)", bestBlocking.perSecond,
                bestBlocking.lost, 1.0, "");
    std::printf("%-30s %12.0f %6zu %7.2f %6s\n", "plain Asio receive loop", bestPlain.perSecond,
                bestPlain.lost, ratio(bestPlain.perSecond), "");
    const double serverRatio = ratio(bestServer.perSecond);
    const bool met = serverRatio >= 0.5 && bestServer.lost == 0;
    std::printf("%-30s %12.0f %6zu %7.2f %6s%s\n", "OSCServer to objects reader", bestServer.perSecond,
                bestServer.lost, serverRatio, ">=0.5", met ? "" : "  (missed)");
    std::printf("peak resident memory: %.1f MiB (goal < 16)%s\n", peakMiB, peakMiB < 16 ? "" : "  (missed)");
    return 0;
}
