// Transfers over a lossy link: a 1,000-record card list read-back and a
// 200-record retrieval with photos from doorsim, clean and under its faults
// (5% of requests lost; 20 ms on every answer, with and without the loss; 5%
// loss and 10% of datagrams twice), with the adaptive wait on (lower bound
// kAdaptiveMinimumMs). Every run is checked to be exact. With
// DOORLINK_BENCH_FIXED_WAIT=1 the same transfers with the fixed 2-second wait
// are measured too: minutes, since each lost request costs 2 seconds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "bench_support.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"

namespace {

using doorlink::bench::clear_retrieval_files;
using doorlink::bench::data_directory;
using doorsim::Bytes;

constexpr int kReadBackRecords = 1000;
constexpr int kPhotoRecords = 200;
constexpr int kReadBackList = 7;
constexpr int32_t kAdaptiveMinimumMs = 5;

enum Link { kClean, kLoss, kDelay, kDelayAndLoss, kLossAndDuplication };

doorsim::Faults faults_of(int link) {
    doorsim::Faults f;
    f.dropRate = link == kLoss || link == kDelayAndLoss || link == kLossAndDuplication ? 0.05 : 0.0;
    f.delayMs = link == kDelay || link == kDelayAndLoss ? 20 : 0;
    f.duplicateRate = link == kLossAndDuplication ? 0.10 : 0.0;
    return f;
}

Bytes file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A controller behind the link, with the adaptive wait on or off for it.
struct LinkedController : doorlink::bench::Controller {
    LinkedController(int link, bool adaptive) {
        sim.set_faults(id, faults_of(link));
        SetAdaptiveWait(address.c_str(), adaptive ? kAdaptiveMinimumMs : 0);
    }
    ~LinkedController() { SetAdaptiveWait(address.c_str(), 0); }
};

// args: link, adaptive wait (1) or fixed wait (0)
void BM_LinkReadBack(benchmark::State& state) {
    data_directory();
    LinkedController c(static_cast<int>(state.range(0)), state.range(1) != 0);
    Bytes expected;
    c.sim.update_state(c.id, [&](doorsim::ControllerState& s) {
        s.cards.records.resize(kReadBackRecords);
        for (size_t i = 0; i < s.cards.records.size(); ++i) {
            for (size_t b = 0; b < doorsim::CardListState::kRecordSize; ++b) {
                s.cards.records[i][b] = static_cast<uint8_t>(i * 7 + b);
            }
            expected.insert(expected.end(), s.cards.records[i].begin(), s.cards.records[i].end());
        }
    });
    char name[32];
    std::snprintf(name, sizeof name, "ReCardInfo%03d.dat", kReadBackList);
    const std::filesystem::path file = std::filesystem::path(data_directory()) / "list" / name;
    for (auto _ : state) {
        if (LookDoorName(c.address.c_str(), kReadBackList, c.mac.c_str()) != 1) {
            state.SkipWithError("read-back failed");
            break;
        }
        state.PauseTiming();
        const bool exact = file_bytes(file) == expected;
        state.ResumeTiming();
        if (!exact) {
            state.SkipWithError("read-back not exact");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kReadBackRecords);
}

// The files of a retrieval as controller 1: its record lines and its photos.
std::map<std::string, Bytes> retrieved_files() {
    const std::filesystem::path home(data_directory());
    std::map<std::string, Bytes> files{{"mj001.txt", file_bytes(home / "mj001.txt")}};
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(home / "pic", ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file())
            files[it->path().lexically_relative(home).string()] = file_bytes(it->path());
    }
    return files;
}

// The records with photos of every run, taken at fixed times.
const std::vector<doorsim::StoredRecord>& photo_records() {
    static const auto records = doorsim::sample_records(kPhotoRecords, 160, 120, 1767225600);
    return records;
}

// The files a clean retrieval of the records makes: what every run must make.
const std::map<std::string, Bytes>& clean_retrieval() {
    static const std::map<std::string, Bytes> files = [] {
        const auto& records = photo_records();
        doorlink::bench::Controller clean;
        clean.sim.update_state(clean.id, [&](doorsim::ControllerState& s) { s.records.records = records; });
        clear_retrieval_files();
        const bool whole = DataRtn(clean.address.c_str(), 1, clean.mac.c_str()) == 2;
        auto made = retrieved_files();
        clear_retrieval_files();
        return whole ? made : std::map<std::string, Bytes>{};
    }();
    return files;
}

// args: link, adaptive wait (1) or fixed wait (0)
void BM_LinkPhotoRetrieval(benchmark::State& state) {
    data_directory();
    const auto& records = photo_records();
    const auto& expected = clean_retrieval();
    LinkedController c(static_cast<int>(state.range(0)), state.range(1) != 0);
    c.sim.update_state(c.id, [&](doorsim::ControllerState& s) { s.records.records = records; });
    for (auto _ : state) {
        state.PauseTiming();
        clear_retrieval_files();
        state.ResumeTiming();
        if (DataRtn(c.address.c_str(), 1, c.mac.c_str()) != 2) {
            state.SkipWithError("retrieval failed");
            break;
        }
        state.PauseTiming();
        const bool exact = !expected.empty() && retrieved_files() == expected;
        state.ResumeTiming();
        if (!exact) {
            state.SkipWithError("retrieval not exact");
            break;
        }
    }
    clear_retrieval_files();
    state.SetItemsProcessed(state.iterations() * kPhotoRecords);
}

// The runs of one transfer: quick links with the repetitions asked for,
// those with 20 ms on every answer once (each takes 20 s or more), those with
// the fixed wait once and only when asked for.
void register_link_runs(const char* name, void (*run)(benchmark::State&)) {
    const bool fixedToo =
        std::getenv("DOORLINK_BENCH_FIXED_WAIT") != nullptr;  // NOLINT(concurrency-mt-unsafe)
    for (int adaptive = 1; adaptive >= (fixedToo ? 0 : 1); --adaptive) {
        auto* quick = benchmark::RegisterBenchmark(name, run);
        auto* slow = benchmark::RegisterBenchmark(name, run);
        for (int link : {kClean, kLoss, kLossAndDuplication}) quick->Args({link, adaptive});
        for (int link : {kDelay, kDelayAndLoss}) slow->Args({link, adaptive});
        for (auto* b : {quick, slow}) b->Unit(benchmark::kMillisecond)->UseRealTime();
        slow->Iterations(1)->Repetitions(1);
        if (adaptive == 0) quick->Iterations(1)->Repetitions(1);
    }
}

[[maybe_unused]] const bool kLinkRunsRegistered = [] {
    register_link_runs("BM_LinkReadBack", BM_LinkReadBack);
    register_link_runs("BM_LinkPhotoRetrieval", BM_LinkPhotoRetrieval);
    return true;
}();

}  // namespace
