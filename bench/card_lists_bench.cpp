// Card lists: conversion of 5000 cards (and the share of it spent reading the
// source file), download and read-back throughput against the simulator,
// beside raw UDP loops of the same datagram sizes against the same simulator
// as the floor; how conversion, download and read-back grow with the number
// of cards; the peak memory of a 5000-card conversion.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "card_files.h"
#include "cardlists/card_record.h"
#include "cardlists/source_file.h"
#include "core/library_state.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"
#include "peak_memory.h"
#include "platform/profile.h"

namespace {

using namespace doorlink;

constexpr int kCards = 5000;
constexpr int kTransferRecords = 2000;

using doorlink::bench::data_directory;
using doorlink::bench::long_record_list;
using doorlink::bench::source_file;

// Converts the source file of so many cards into list, once per iteration.
void run_conversion(benchmark::State& state, int cards, uint32_t list, uint32_t kind) {
    data_directory();
    core::LibraryState::get().worker_start_pause_ms() = 0;
    const std::string source = source_file(cards);
    for (auto _ : state) {
        if (TransformName(source.c_str(), cards, list, kind) != 1) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * cards);
}

void BM_ConvertList(benchmark::State& state) {
    run_conversion(state, kCards, 1, state.range(0) == 1 ? 1 : 0);
    state.counters["us_per_card"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kCards),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_ConvertList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The short-record conversion of as many cards as the argument says.
void BM_ConvertListGrowth(benchmark::State& state) {
    run_conversion(state, static_cast<int>(state.range(0)), 3, 0);
}
BENCHMARK(BM_ConvertListGrowth)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ConvertListPeakMemory(benchmark::State& state) {
    data_directory();
    const int cards = static_cast<int>(state.range(0));
    doorlink::bench::measure_peak_memory(state,
                                         {"convert", source_file(cards), std::to_string(cards), "4", "0"});
}
BENCHMARK(BM_ConvertListPeakMemory)->Arg(kCards)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The twelve reads of one card from the snapshot that a conversion shares,
// alone.
void BM_ReadSourceCard(benchmark::State& state) {
    data_directory();
    const platform::ProfileSnapshot source(source_file(kCards).c_str());
    int i = 0;
    for (auto _ : state) {
        cardlists::SourceCard card(source, i++ % kCards + 1);
        benchmark::DoNotOptimize(card);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadSourceCard);

// Encoding one card's values into a long record, alone.
void BM_BuildRecord(benchmark::State& state) {
    data_directory();
    const platform::ProfileSnapshot source(source_file(kCards).c_str());
    cardlists::SourceCard card(source, 1234);
    uint8_t record[cardlists::kLongRecordSize];
    for (auto _ : state) {
        cardlists::BuildCardRecord(card.values(), cardlists::RecordKind::Long, cardlists::DigitEnd::Zero,
                                   record);
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildRecord);

using doorlink::bench::Controller;

void write_transfer_list() {
    static bool done = [] {
        core::LibraryState::get().worker_start_pause_ms() = 0;
        return FormatName1(source_file(kTransferRecords).c_str(), kTransferRecords, 2) == 1;
    }();
    benchmark::DoNotOptimize(done);
}

// Downloads so many records of list to a simulated controller, once per
// iteration.
void run_download(benchmark::State& state, int records, int list) {
    Controller c;
    for (auto _ : state) {
        if (list < 0 || DoorDownName1(c.address.c_str(), records, list, c.mac.c_str()) != 1) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
}

// Reads back so many records of list from a simulated controller that was
// given them once, once per iteration.
void run_read_back(benchmark::State& state, int records, int list) {
    Controller c;
    if (list < 0 || DoorDownName1(c.address.c_str(), records, list, c.mac.c_str()) != 1) {
        state.SkipWithError("download failed");
        return;
    }
    for (auto _ : state) {
        if (LookDoorName(c.address.c_str(), list, c.mac.c_str()) != 1) {
            state.SkipWithError("read-back failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
}

void BM_Download(benchmark::State& state) {
    data_directory();
    write_transfer_list();
    run_download(state, kTransferRecords, 2);
}
BENCHMARK(BM_Download)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBack(benchmark::State& state) {
    data_directory();
    write_transfer_list();
    run_read_back(state, kTransferRecords, 2);
}
BENCHMARK(BM_ReadBack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadGrowth(benchmark::State& state) {
    data_directory();
    const int records = static_cast<int>(state.range(0));
    run_download(state, records, long_record_list(records));
}
BENCHMARK(BM_DownloadGrowth)->Arg(500)->Arg(2000)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBackGrowth(benchmark::State& state) {
    data_directory();
    const int records = static_cast<int>(state.range(0));
    run_read_back(state, records, long_record_list(records));
}
BENCHMARK(BM_ReadBackGrowth)->Arg(500)->Arg(2000)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same datagrams from a bare socket: the announcement, then five copies
// of each 526-byte record datagram and one 14-byte reply per record.
int raw_socket(const std::string& address, sockaddr_in& to) {
    to = doorlink::bench::controller_endpoint(address);
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

void BM_RawDownloadFloor(benchmark::State& state) {
    Controller c;
    sockaddr_in to;
    int fd = raw_socket(c.address, to);
    auto m = c.sim.mac(c.id);
    doorsim::Bytes announcement = {0x49,
                                   0x94,
                                   0x04,
                                   0x14,
                                   0x55,
                                   0x49,
                                   0x94,
                                   0x04,
                                   0x14,
                                   0x55,
                                   kTransferRecords / 256,
                                   kTransferRecords % 256};
    announcement.insert(announcement.end(), m.begin(), m.end());
    announcement.insert(announcement.end(), {kTransferRecords / 256, kTransferRecords % 256});
    announcement.insert(announcement.end(), m.begin(), m.end());
    doorsim::Bytes record(526, 0);
    const uint8_t code[] = {0x50, 0x05, 0x15, 0x25, 0x77, 0x50, 0x05, 0x15, 0x25, 0x77};
    std::copy(std::begin(code), std::end(code), record.begin());
    record[522] = kTransferRecords / 256;
    record[523] = kTransferRecords % 256;
    uint8_t reply[1024];
    auto send = [&](const doorsim::Bytes& b) {
        ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    for (auto _ : state) {
        send(announcement);
        if (::recv(fd, reply, sizeof reply, 0) != 12) state.SkipWithError("no announcement reply");
        for (int i = 0; i < kTransferRecords; ++i) {
            record[524] = static_cast<uint8_t>(i / 256);
            record[525] = static_cast<uint8_t>(i % 256);
            for (int copy = 0; copy < 5; ++copy) send(record);
            if (::recv(fd, reply, sizeof reply, 0) != 14) {
                state.SkipWithError("no record reply");
                break;
            }
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * kTransferRecords);
}
BENCHMARK(BM_RawDownloadFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 14-byte request and a 528-byte reply per record.
void BM_RawReadBackFloor(benchmark::State& state) {
    Controller c;
    c.sim.update_state(c.id, [](doorsim::ControllerState& s) {
        doorsim::CardListState::Record empty{};
        s.cards.records.assign(kTransferRecords, empty);
    });
    sockaddr_in to;
    int fd = raw_socket(c.address, to);
    auto m = c.sim.mac(c.id);
    doorsim::Bytes request = {0x32, 0x23, 0x33, 0x43, 0x77, 0, 0};
    request.insert(request.end(), m.begin(), m.end());
    request.push_back(0);
    uint8_t reply[1024];
    for (auto _ : state) {
        for (int i = 0; i < kTransferRecords; ++i) {
            request[5] = static_cast<uint8_t>(i / 256);
            request[6] = static_cast<uint8_t>(i % 256);
            ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (::recv(fd, reply, sizeof reply, 0) != 528) {
                state.SkipWithError("no reply");
                break;
            }
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * kTransferRecords);
}
BENCHMARK(BM_RawReadBackFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
