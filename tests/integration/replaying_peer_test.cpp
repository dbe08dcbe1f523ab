// Every receiving loop ends against a controller that replays old answers:
// after a few true answers it answers every request (every copy of one too)
// with one of the datagrams it sent before, chosen at random, forever; on a
// monitoring socket, earlier pushes keep coming as well. Each call must end
// with its failure result and within the requests its bound allows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <ostream>
#include <random>
#include <thread>

#include "core/exchange.h"
#include "core/transport.h"
#include "doorlink/doorlink.h"
#include "records/pushed.h"
#include "records/record_retrieval.h"
#include "records/transfer_retrieval.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using core::kMaxRejectedReplies;
using doorsim::Bytes;

// Far more than any of the calls takes: the longest, discovery, ends after
// six silent readiness waits (12 s); the transfers give up after at most
// kMaxRejectedReplies graces of at most kMaxGraceMs each.
constexpr auto kDeadline = std::chrono::seconds(100);

class Replayed;

struct Case {
    const char* name;
    int trueAnswers;     // requests the controller answers truly first
    size_t maxRequests;  // datagrams it may receive during the call
    std::function<void(Replayed&)> prepare;
    std::function<int64_t(Replayed&)> call;
    int64_t result;  // what the call must give
};

// Names the case in test output.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Replayed : public testing::SimulatedController, public ::testing::WithParamInterface<Case> {
public:
    using SimulatedController::address;
    using SimulatedController::id;
    using SimulatedController::mac;
    using SimulatedController::sim;

    // A monitoring socket that the controller pushes to.
    void monitor() {
        uint16_t port = 0;
        socket = core::OpenControllerSocket(port);
        ASSERT_NE(socket, 0u);
        sim.update_state(id, [&](doorsim::ControllerState& s) {
            s.monitor = doorsim::MonitorTarget{true, "127.0.0.1", port};
        });
    }
    // Pushes these first, then random ones of them until the call ends.
    void keep_pushing(std::vector<Bytes> earlier) {
        for (const Bytes& b : earlier) ASSERT_TRUE(sim.push(id, b));
        pusher = std::thread([this, earlier] {
            std::mt19937 random(7);
            while (!stopPushing) {
                sim.push(id, earlier[std::uniform_int_distribution<size_t>(0, earlier.size() - 1)(random)]);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void TearDown() override {
        stopPushing = true;
        if (pusher.joinable()) pusher.join();
        if (socket) core::CloseControllerSocket(socket);
    }

    uint32_t socket = 0;
    std::atomic<bool> stopPushing{false};
    std::thread pusher;
};

TEST_P(Replayed, CallEndsWithinItsBound) {
    const Case& c = GetParam();
    c.prepare(*this);
    doorsim::Faults faults;
    faults.replayAfter = c.trueAnswers;
    sim.set_faults(id, faults);
    const size_t before = sim.received_count(id);

    auto call = std::async(std::launch::async, [&] { return c.call(*this); });
    if (call.wait_for(kDeadline) != std::future_status::ready) {
        ADD_FAILURE() << c.name << " still runs after " << kDeadline.count() << " s";
        // Silence ends it, so that the test can end.
        stopPushing = true;
        faults.silent = true;
        sim.set_faults(id, faults);
    }
    EXPECT_EQ(call.get(), c.result);
    EXPECT_LE(sim.received_count(id) - before, c.maxRequests);
}

// A list file of count short records.
void write_list(int list, int count) {
    std::filesystem::create_directories(testing::data_path({"list"}));
    char name[32];
    std::snprintf(name, sizeof name, "doorname%03d.dat", list);
    std::ofstream(testing::data_path({"list", name}), std::ios::binary)
        << std::string(static_cast<size_t>(count) * 300, '\x01');
}

const Bytes kAcknowledgement = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

// A framed echo for node 1 at station 0001, the one the controller serves.
uint32_t framed_echo(Replayed& t, uint8_t stationLow) {
    const uint8_t station[2] = {0x00, stationLow};
    const uint8_t command[] = {0x01, 0x00, 0x02, 'h', 'i'};
    uint8_t answer[3 + 1006] = {};
    return SysComInter(t.address.c_str(), 1, 0, 0, station, command, answer);
}

const auto kNothing = [](Replayed&) {};

const Case kCases[] = {
    // The announcement and record 0 acknowledged; every copy of record 1 gets
    // an acknowledgement of those: stale, resent until the bound.
    {"DoorDownName", 2, 1 + 5 * (1 + kMaxRejectedReplies), [](Replayed&) { write_list(1, 20); },
     [](Replayed& t) { return DoorDownName(t.address.c_str(), 20, 1, t.mac.c_str()); }, 0},
    // Indexes 0 and 1 read; index 2 gets their records.
    {"LookDoorName", 2, 2 + kMaxRejectedReplies,
     [](Replayed& t) {
         t.sim.update_state(t.id, [](doorsim::ControllerState& s) {
             s.cards.records.assign(20, doorsim::CardListState::Record{});
         });
     },
     [](Replayed& t) { return LookDoorName(t.address.c_str(), 1, t.mac.c_str()); }, 0},
    // Three blocks of the photo stream; then blocks already acknowledged.
    {"DataRtn", 3,
     records::kRetrievalRequestCopies + records::kAcknowledgementCopies*(3 + kMaxRejectedReplies),
     [](Replayed& t) {
         t.sim.update_state(
             t.id, [](doorsim::ControllerState& s) { s.records.records = doorsim::sample_records(4); });
     },
     [](Replayed& t) { return DataRtn(t.address.c_str(), 1, t.mac.c_str()); }, 0},
    // Blocks 1 and 2 of four; block 3 is asked for and blocks 1 and 2 come.
    {"TxDataRtn", 2, records::kTransferRequestCopies*(2 + kMaxRejectedReplies),
     [](Replayed& t) {
         t.sim.update_state(t.id, [](doorsim::ControllerState& s) {
             s.records.records = doorsim::sample_records(200, 0, 0);
         });
     },
     [](Replayed& t) { return TxDataRtn(t.address.c_str(), 1, t.mac.c_str()); }, 0},
    // Blocks 0 and 1 of a photo of four, then only those again, pushed and
    // in answer to every resend request.
    {"DoorPic", 0, kMaxRejectedReplies*(1 + 2 * (records::kMaxPhotoSilences - 1)),
     [](Replayed& t) {
         t.monitor();
         doorsim::StoredRecord r = doorsim::make_record(5, 0x0102, std::time(nullptr), 1, 400, 300);
         std::vector<Bytes> blocks = doorsim::live_photo_blocks(r, 1);
         ASSERT_GE(blocks.size(), 4u);
         t.keep_pushing({blocks[0], blocks[1]});
     },
     [](Replayed& t) -> int64_t {
         char card[9], time[17];
         return DoorPic(0, card, time, t.socket);
     },
     0},
    // Nothing but copies of the monitoring acknowledgement.
    {"ErrorScore", 0, 0,
     [](Replayed& t) {
         t.monitor();
         t.keep_pushing({kAcknowledgement});
     },
     [](Replayed& t) -> int64_t {
         char text[records::kErrorTextSize];
         return ErrorScore(t.address.c_str(), text, 1, t.socket);
     },
     0},
    // Every copy of the request gets the one reply the controller gave:
    // recorded once, then the call ends after its silences.
    {"FindEqm", 1, 5, kNothing, [](Replayed& t) -> int64_t { return FindEqm(t.address.c_str(), 0); }, 1},
    // An answer for station 0001 never answers station 0002.
    {"SysComInter", 1, 10, [](Replayed& t) { ASSERT_EQ(framed_echo(t, 0x01), 1u); },
     [](Replayed& t) -> int64_t { return framed_echo(t, 0x02); }, 0},
    // The clock set acknowledged; the clock reading gets that acknowledgement.
    {"CommandExchange", 1, kMaxRejectedReplies,
     [](Replayed& t) { ASSERT_EQ(DoorSetTime(t.address.c_str(), t.mac.c_str()), 1u); },
     [](Replayed& t) -> int64_t {
         char clock[18];
         uint32_t day = 0;
         return DoorShowTime(t.address.c_str(), clock, &day, t.mac.c_str());
     },
     0},
};

INSTANTIATE_TEST_SUITE_P(EveryReceivingLoop, Replayed, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return param.param.name; });

}  // namespace
}  // namespace doorlink
