// Record retrieval against the simulator on loopback: DataRtn photo
// throughput (MB/s of JPEG bytes) and records per second, TxDataRtn records
// per second, and beside them the floor: a raw UDP client driving the same
// controller's block stream with one 5-byte acknowledgement per block and no
// files; the peak memory of a retrieval of 200 records with photos.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench_support.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"
#include "peak_memory.h"

namespace {

using doorlink::bench::clear_retrieval_files;
using doorlink::bench::data_directory;

struct RecordController {
    doorsim::Simulator sim;
    int id;
    std::string address;
    std::string mac;
    size_t photoBytes = 0;
    RecordController(int records, int width, int height) : id(sim.add_controller({})) {
        auto stored = doorsim::sample_records(records, width, height);
        for (const auto& r : stored) photoBytes += r.photo.size();
        sim.update_state(id, [&](doorsim::ControllerState& s) { s.records.records = stored; });
        sim.start();
        address = sim.address(id);
        mac = sim.mac_text(id);
    }
};

// args: records, photo width (height is 3/4 of it)
void BM_DataRtnPhotos(benchmark::State& state) {
    data_directory();
    const int records = static_cast<int>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    RecordController c(records, width, width * 3 / 4);
    for (auto _ : state) {
        state.PauseTiming();
        clear_retrieval_files();
        state.ResumeTiming();
        if (DataRtn(c.address.c_str(), 1, c.mac.c_str()) != 2) {
            state.SkipWithError("retrieval failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.photoBytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
    state.counters["photo_kB"] = static_cast<double>(c.photoBytes) / records / 1024.0;
}
BENCHMARK(BM_DataRtnPhotos)->Args({50, 160})->Args({20, 480})->Unit(benchmark::kMillisecond)->UseRealTime();

// The retrieval runs in a process of its own, the simulator in this one.
void BM_DataRtnPeakMemory(benchmark::State& state) {
    data_directory();
    const int records = static_cast<int>(state.range(0));
    RecordController c(records, 160, 120);
    clear_retrieval_files();
    doorlink::bench::measure_peak_memory(state, {"retrieve", c.address, "1", c.mac});
}
BENCHMARK(BM_DataRtnPeakMemory)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TxDataRtnRecords(benchmark::State& state) {
    data_directory();
    const int records = static_cast<int>(state.range(0));
    RecordController c(records, 0, 0);
    for (auto _ : state) {
        state.PauseTiming();
        clear_retrieval_files();
        state.ResumeTiming();
        if (TxDataRtn(c.address.c_str(), 1, c.mac.c_str()) != 1) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
}
BENCHMARK(BM_TxDataRtnRecords)->Arg(640)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: the same datagrams from a bare socket, the photo bytes thrown
// away: the retrieval request, then each block's trailer as many times as
// the third argument says (7 as the library sends it, or 1).
void BM_RawUdpBlockStream(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const int copies = static_cast<int>(state.range(2));
    RecordController c(records, width, width * 3 / 4);
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = doorlink::bench::controller_endpoint(c.address);
    doorsim::Bytes request = {0x41, 0x14, 0x24, 0x34, 0x77};
    auto m = c.sim.mac(c.id);
    request.insert(request.end(), m.begin(), m.end());
    request.push_back(0);
    uint8_t block[2048];
    for (auto _ : state) {
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) != 1) {
                state.SkipWithError("no block");
                break;
            }
            ssize_t n = ::recv(fd, block, sizeof block, 0);
            if (n == 5) break;  // the end marker
            if (n < 5) continue;
            for (int copy = 0; copy < copies; ++copy) {
                ::sendto(fd, block + n - 5, 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.photoBytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
}
BENCHMARK(BM_RawUdpBlockStream)
    ->Args({50, 160, 7})
    ->Args({50, 160, 1})
    ->Args({20, 480, 7})
    ->Args({20, 480, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Removes the benchmark's data directory when the run ends (made first, so
// that it outlives this object).
struct RemoveDataDirectory {
    RemoveDataDirectory() { data_directory(); }
    ~RemoveDataDirectory() {
        if (getenv("DOORLINK_BENCH_KEEP")) return;
        const std::string& dir = data_directory();
        if (dir.find("doorlink-bench-") != std::string::npos) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
} removeDataDirectory;

}  // namespace
