// Sixty-four host threads, each against a simulated controller of its own, at
// the same time: clock, door commands, unicast discovery, a card list download
// and read-back, a retrieval with photos. Every result, the registry and every
// file must come out as if each thread had run alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cardlists/list_files.h"
#include "doorlink/doorlink.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

using doorsim::StoredRecord;
using testing::data_path;
using testing::read_bytes;
using testing::read_lines;
using testing::registry_value;

constexpr int kThreads = 64;

// What thread i works with: controller i, its own list and controller numbers.
struct Job {
    int index = 0;
    int sim = 0;
    std::string address;
    std::string mac;
    int list = 0;        // card list number
    int controller = 0;  // controller number of the record files
    int cards = 0;
    std::vector<StoredRecord> records;
};

std::string card_of(const Job& job, int k) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d%05d", job.index, 100 * job.index + k);
    return text;
}

int century() {
    time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return (local.tm_year + 1900) / 100 * 100;
}

std::string time_digits(const StoredRecord& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", century() + r.year, r.month, r.day, r.hour,
                  r.minute, r.second);
    return text;
}

std::string record_line(const StoredRecord& r, int controller) {
    char text[64];
    std::snprintf(text, sizeof text, "%s,%s,%03d,1", doorsim::card_text(r.site, r.card).c_str(),
                  time_digits(r).c_str(), controller);
    return text;
}

std::string photo_path(const StoredRecord& r, int controller, int image) {
    char name[96];
    const std::string card = doorsim::card_text(r.site, r.card);
    std::snprintf(name, sizeof name, "%s%s%03d%04d.jpg", card.c_str(), time_digits(r).c_str(), controller,
                  image);
    return data_path({"pic", card, name});
}

void run_job(const Job& job) {
    const char* address = job.address.c_str();
    const char* mac = job.mac.c_str();
    EXPECT_EQ(DoorSetTime(address, mac), 1u);
    char clock[18] = {};
    uint32_t weekDay = 99;
    EXPECT_EQ(DoorShowTime(address, clock, &weekDay, mac), 1u);
    EXPECT_LT(weekDay, 7u);
    EXPECT_EQ(DoorCompelOpenOrClose(address, static_cast<uint32_t>(job.index % 4), mac), 1u);
    uint32_t state = 9;
    EXPECT_EQ(DoorCurState(address, mac, &state), 1u);
    EXPECT_EQ(state, static_cast<uint32_t>(job.index % 4)) << job.address;

    const int32_t found = FindEqm(address, 0);
    EXPECT_GE(found, 1);
    EXPECT_LE(found, kThreads);

    for (int k = 0; k < job.cards; ++k) {
        EXPECT_EQ(NameToText1(card_of(job, k).c_str(), "123456", 1, "0800-1200-01;", "", "", "", "", "", "",
                              "654321", 2, job.list, k == 0 ? 0 : 1),
                  1u);
    }
    EXPECT_EQ(DoorDownName1(address, job.cards, job.list, mac), 1u) << job.address;
    EXPECT_EQ(LookDoorName(address, job.list, mac), 1u) << job.address;

    EXPECT_EQ(DataRtn(address, job.controller, mac), 2u) << job.address;
}

TEST(ManyThreads, SixtyFourControllersAtOnceKeepTheirResultsRegistryAndFilesApart) {
    doorsim::Simulator sim;
    std::vector<Job> jobs(kThreads);
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < kThreads; ++i) {
        Job& job = jobs[static_cast<size_t>(i)];
        job.index = i;
        doorsim::ControllerConfig config;
        config.mac = {0x00, 0xA0, 0xC9, 0x40, 0x00, static_cast<uint8_t>(i)};
        config.deviceNumber = static_cast<uint8_t>(1 + i);
        job.sim = sim.add_controller(config);
        job.address = sim.address(job.sim);
        job.mac = sim.mac_text(job.sim);
        job.list = 100 + i;
        job.controller = 1 + i;
        job.cards = 2 + i % 3;
        // Ten records and more, so that "CurrentImg" is written once.
        for (int k = 0; k < 10 + i % 3; ++k) {
            job.records.push_back(doorsim::make_record(static_cast<uint8_t>(i), static_cast<uint16_t>(k + 1),
                                                       now - 60 * (20 - k), 1, 48, 32));
        }
        const uint8_t door = static_cast<uint8_t>(i % 4);
        sim.update_state(job.sim, [&](doorsim::ControllerState& s) {
            s.doors.currentState = {door, door};
            s.records.records = job.records;
        });
    }
    sim.start();

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (const Job& job : jobs) threads.emplace_back(run_job, std::cref(job));
    for (std::thread& t : threads) t.join();
    std::printf("%d threads took %lld ms\n", kThreads,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count()));

    // The registry: one entry per controller, none lost, no index twice, each
    // with its own controller's device number.
    ASSERT_EQ(registry_value("EqmTotal", "EqmTotal"), std::to_string(kThreads));
    std::set<std::string> addresses;
    for (int e = 1; e <= kThreads; ++e) {
        const std::string address = registry_value("EqmIP", "EqmIP" + std::to_string(e));
        auto job = std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.address == address; });
        ASSERT_NE(job, jobs.end()) << "entry " << e << " holds " << address;
        EXPECT_TRUE(addresses.insert(address).second) << address << " twice";
        EXPECT_EQ(registry_value("EqmNO", "EqmNo" + std::to_string(e)), std::to_string(1 + job->index));
    }
    EXPECT_EQ(registry_value("EqmIP", "EqmIP" + std::to_string(kThreads + 1)), "");

    for (const Job& job : jobs) {
        SCOPED_TRACE(job.address);
        const doorsim::ControllerState state = sim.state(job.sim);
        EXPECT_EQ(state.clockSets, 1);
        EXPECT_EQ(state.doors.forcedActuations[static_cast<size_t>(job.index % 4)], 1);

        // The list went to its controller and came back into its own file.
        const std::string cards = std::to_string(job.cards);
        for (const char* key : {"TolNameList", "CurNameList", "ReTolNameList", "ReCurNameList"}) {
            EXPECT_EQ(registry_value(key, key + std::to_string(job.list)), cards) << key;
        }
        const auto list = read_bytes(cardlists::ListFilePath(job.list));
        ASSERT_EQ(list.size(), static_cast<size_t>(job.cards) * 360);
        EXPECT_TRUE(read_bytes(cardlists::ReadBackFilePath(job.list)) == list);
        ASSERT_EQ(state.cards.records.size(), static_cast<size_t>(job.cards));
        for (size_t k = 0; k < state.cards.records.size(); ++k) {
            EXPECT_TRUE(std::equal(state.cards.records[k].begin(), state.cards.records[k].end(),
                                   list.begin() + static_cast<long>(k * 360)));
        }

        // Its records and photos, in files of its own controller number.
        std::vector<std::string> lines;
        for (const StoredRecord& r : job.records) lines.push_back(record_line(r, job.controller));
        EXPECT_EQ(read_lines(data_path({"mj" + std::string(3 - std::to_string(job.controller).size(), '0') +
                                        std::to_string(job.controller) + ".txt"})),
                  lines);
        for (size_t k = 0; k < job.records.size(); ++k) {
            EXPECT_EQ(read_bytes(photo_path(job.records[k], job.controller, static_cast<int>(k + 1))),
                      job.records[k].photo);
        }
        EXPECT_EQ(registry_value("TotalImg", "TotalImg" + std::to_string(job.controller)),
                  std::to_string(job.records.size()));
        EXPECT_EQ(registry_value("CurrentImg", "CurrentImg" + std::to_string(job.controller)), "10");
    }
    // One retrieval record file per controller number.
    EXPECT_EQ(testing::files_in(data_path({"cardinfo"})).size(), static_cast<size_t>(kThreads));
}

}  // namespace
}  // namespace doorlink
