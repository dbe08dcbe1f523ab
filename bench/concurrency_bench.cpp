// Many controllers at once: N host threads, each against a simulated
// controller of its own, all served by one simulator, and beside them the
// same number of raw UDP clients doing the bare round trip of the same sizes.
//
// The threads run exchanges back to back for the whole run; the timed loop
// only watches the clock, and the figure is the number of exchanges that all
// threads together completed within it, per second of wall time. So no
// thread's late start or early end skews the sum.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"

namespace {

constexpr int kMaxThreads = 64;

// One simulator with a controller for each thread, made once for all runs.
struct Fleet {
    doorsim::Simulator sim;
    std::vector<int> ids;
    std::vector<std::string> addresses;
    std::vector<std::string> macs;
    Fleet() {
        for (int i = 0; i < kMaxThreads; ++i) {
            doorsim::ControllerConfig config;
            config.mac[5] = static_cast<uint8_t>(i + 1);
            const int id = sim.add_controller(config);
            ids.push_back(id);
            addresses.push_back(sim.address(id));
            macs.push_back(sim.mac_text(id));
        }
        sim.start();
    }
    // The request log of a run is of no use to the next one.
    void forget_requests() {
        for (int id : ids) sim.clear_received(id);
    }
};

Fleet& fleet() {
    static Fleet f;
    return f;
}

struct alignas(64) Tally {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> failed{0};
};

// One exchange of thread i; false when it got no answer.
using Exchange = std::function<bool()>;
using ExchangeMaker = std::function<Exchange(int thread)>;

// Runs state.range(0) threads, thread i doing the exchanges that make(i)
// returns, and counts what they complete while the timed loop runs.
void run_threads(benchmark::State& state, const ExchangeMaker& make) {
    const int threads = static_cast<int>(state.range(0));
    Fleet& f = fleet();
    f.forget_requests();
    std::vector<Tally> tallies(static_cast<size_t>(threads));
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i, exchange = make(i)] {
            Tally& t = tallies[static_cast<size_t>(i)];
            while (!stop.load(std::memory_order_relaxed)) {
                if (exchange()) t.done.fetch_add(1, std::memory_order_relaxed);
                else t.failed.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    auto total = [&] {
        uint64_t sum = 0;
        for (const Tally& t : tallies) sum += t.done.load(std::memory_order_relaxed);
        return sum;
    };
    // Under way: every thread has completed an exchange.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (const Tally& t : tallies) {
        while (t.done.load() == 0 && t.failed.load() == 0 && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const uint64_t before = total();
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const uint64_t after = total();
    stop = true;
    for (std::thread& w : workers) w.join();

    uint64_t failed = 0;
    for (const Tally& t : tallies) failed += t.failed.load();
    if (failed > 0) state.SkipWithError((std::to_string(failed) + " exchanges got no answer").c_str());
    state.SetItemsProcessed(static_cast<int64_t>(after - before));
    state.counters["threads"] = threads;
}

void BM_ConcurrentShowTime(benchmark::State& state) {
    Fleet& f = fleet();
    run_threads(state, [&f](int i) -> Exchange {
        const std::string address = f.addresses[static_cast<size_t>(i)];
        const std::string mac = f.macs[static_cast<size_t>(i)];
        return [address, mac] {
            char text[18];
            uint32_t weekDay = 0;
            return DoorShowTime(address.c_str(), text, &weekDay, mac.c_str()) == 1;
        };
    });
}
BENCHMARK(BM_ConcurrentShowTime)->Arg(1)->Arg(8)->Arg(64)->UseRealTime();

// A raw client: its own socket, connected to its controller, sending the
// clock query's 12 bytes and waiting (two seconds at most) for the 13-byte
// reply.
struct RawClient {
    int fd = -1;
    std::array<uint8_t, 12> request{0x83, 0x38, 0x48, 0x58, 0x33, 0x00};
    RawClient(const std::string& address, const doorsim::Mac& mac) {
        std::copy(mac.begin(), mac.end(), request.begin() + 6);
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = doorlink::bench::controller_endpoint(address);
        timeval wait{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    bool exchange() {
        uint8_t reply[1024];
        return ::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size()) &&
               ::recv(fd, reply, sizeof reply, 0) > 0;
    }
};

void BM_ConcurrentRawRoundTrip(benchmark::State& state) {
    Fleet& f = fleet();
    run_threads(state, [&f](int i) -> Exchange {
        auto client = std::make_shared<RawClient>(f.addresses[static_cast<size_t>(i)],
                                                  f.sim.mac(f.ids[static_cast<size_t>(i)]));
        return [client] { return client->exchange(); };
    });
}
BENCHMARK(BM_ConcurrentRawRoundTrip)->Arg(1)->Arg(8)->Arg(64)->UseRealTime();

}  // namespace
