// The peak memory of the exports that read or write files, each at its
// largest input, in a process of its own (peak_memory.h): the read-back INI
// of 5,000 cards, the read-back itself, the download of the longest list a
// controller takes, the single-card conversions, the record transfer of
// 65,535 records, and a progress key written into a registry of as many
// controllers as one discovery records. The whole-list conversion is
// measured in card_lists_bench.cpp and the retrieval with photos in
// records_bench.cpp.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "card_files.h"
#include "cardlists/list_files.h"
#include "doorsim/simulator.h"
#include "peak_memory.h"

namespace {

using namespace doorlink;
using bench::Controller;
using bench::data_directory;
using bench::measure_peak_memory;

constexpr int kCards = 5000;
constexpr int kLongestList = 65535;         // the count travels in two bytes
constexpr int kTransferRecords = 65535;     // 1,024 blocks of 64
constexpr int kRegistryControllers = 4096;  // the replies one discovery records

// Each peak is measured once per repetition, in a process of its own.
void measured_once(benchmark::internal::Benchmark* b) {
    b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The records of the long-record list of kCards cards.
std::vector<doorsim::CardListState::Record> card_records() {
    const std::vector<uint8_t> bytes = file_bytes(cardlists::ListFilePath(bench::long_record_list(kCards)));
    std::vector<doorsim::CardListState::Record> records(bytes.size() / doorsim::CardListState::kRecordSize);
    for (size_t i = 0; i < records.size(); ++i) {
        std::copy_n(bytes.begin() + static_cast<long>(i * records[i].size()), records[i].size(),
                    records[i].begin());
    }
    return records;
}

// A controller that holds the card list of kCards cards.
struct CardController : Controller {
    CardController() {
        sim.update_state(id, [](doorsim::ControllerState& s) { s.cards.records = card_records(); });
    }
};

// NameToini of the read-back file of kCards cards: its INI is written beside
// the list file, which has the read-back file's layout.
void BM_NameToIniPeakMemory(benchmark::State& state) {
    data_directory();
    const int list = bench::long_record_list(kCards);
    measure_peak_memory(state, {"to-ini", cardlists::ListFilePath(list), std::to_string(list)});
}
BENCHMARK(BM_NameToIniPeakMemory)->Arg(kCards)->Apply(measured_once);

void BM_ReadBackPeakMemory(benchmark::State& state) {
    data_directory();
    CardController c;
    measure_peak_memory(state, {"read-back", c.address, "201", c.mac});
}
BENCHMARK(BM_ReadBackPeakMemory)->Arg(kCards)->Apply(measured_once);

// The list of kLongestList long records: the 5,000-card list over and over.
int longest_list() {
    static const int list = [] {
        const std::vector<uint8_t> cards =
            file_bytes(cardlists::ListFilePath(bench::long_record_list(kCards)));
        if (cards.empty()) return -1;
        const int number = 202;
        std::ofstream out(cardlists::ListFilePath(number), std::ios::binary | std::ios::trunc);
        const size_t total = static_cast<size_t>(kLongestList) * doorsim::CardListState::kRecordSize;
        for (size_t written = 0; written < total; written += std::min(cards.size(), total - written)) {
            out.write(reinterpret_cast<const char*>(cards.data()),
                      static_cast<std::streamsize>(std::min(cards.size(), total - written)));
        }
        return out ? number : -1;
    }();
    return list;
}

void BM_DownloadPeakMemory(benchmark::State& state) {
    data_directory();
    Controller c;
    const int list = longest_list();
    if (list < 0) return state.SkipWithError("no list file");
    measure_peak_memory(
        state, {"download", c.address, std::to_string(kLongestList), std::to_string(list), c.mac, "1"});
}
BENCHMARK(BM_DownloadPeakMemory)->Arg(kLongestList)->Apply(measured_once);

// One card of the source file of kCards cards as a long record
// (FormatSignalName1), or the whole list as long records (FormatName1).
void BM_SourceFilePeakMemory(benchmark::State& state, bool wholeList) {
    data_directory();
    const std::string source = bench::source_file(kCards);
    const std::string cards = std::to_string(kCards);
    measure_peak_memory(state, wholeList ? std::vector<std::string>{"convert", source, cards, "203", "1"}
                                         : std::vector<std::string>{"signal", source, cards, "1"});
}
BENCHMARK_CAPTURE(BM_SourceFilePeakMemory, FormatSignalName1, false)->Apply(measured_once);
BENCHMARK_CAPTURE(BM_SourceFilePeakMemory, FormatName1, true)->Apply(measured_once);

void BM_TransferPeakMemory(benchmark::State& state) {
    data_directory();
    Controller c;
    const auto records = doorsim::sample_records(kTransferRecords, 0);
    c.sim.update_state(c.id, [&](doorsim::ControllerState& s) { s.records.records = records; });
    measure_peak_memory(state, {"transfer", c.address, "2", c.mac});
}
BENCHMARK(BM_TransferPeakMemory)->Arg(kTransferRecords)->Apply(measured_once);

// A registry of so many controllers in a directory of its own (the other
// benchmarks write their progress keys into theirs), as discovery writes it.
std::string registry_home(int controllers) {
    const std::string home = data_directory() + "/registry-" + std::to_string(controllers);
    std::filesystem::create_directories(home);
    std::ofstream out(home + "/eqminfo.ini", std::ios::trunc);
    const char* sections[][2] = {{"EqmIP", "EqmIP"},     {"EqmNO", "EqmNo"},     {"EqmNet", "EqmNet"},
                                 {"EqmTime", "EqmTime"}, {"EqmGate", "EqmGate"}, {"EqmImg", "EqmImg"}};
    for (const auto& s : sections) {
        out << '[' << s[0] << "]\n";
        for (int i = 1; i <= controllers; ++i) {
            const std::string address = "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256);
            const std::string name = s[0];
            const std::string value = name == "EqmIP"     ? address
                                      : name == "EqmNO"   ? std::to_string(i)
                                      : name == "EqmNet"  ? std::string("255.255.0.0")
                                      : name == "EqmTime" ? std::string("10")
                                      : name == "EqmGate" ? std::string("10.1.0.1")
                                                          : std::string("1");
            out << s[1] << i << '=' << value << '\n';
        }
    }
    out << "[EqmTotal]\nEqmTotal=" << controllers << '\n';
    return home;
}

// A read-back of one card: its two progress keys go into the registry.
void BM_RegistryPeakMemory(benchmark::State& state) {
    data_directory();
    Controller c;
    c.sim.update_state(c.id, [](doorsim::ControllerState& s) { s.cards.records.resize(1); });
    const std::string home = registry_home(static_cast<int>(state.range(0)));
    measure_peak_memory(state, {"home", home, "read-back", c.address, "1", c.mac});
}
BENCHMARK(BM_RegistryPeakMemory)->Arg(kRegistryControllers)->Apply(measured_once);

}  // namespace
