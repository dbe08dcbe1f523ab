// A card list read back from doorsim while it loses 5% of the requests: with
// the adaptive wait off every lost request costs the 2-second readiness wait,
// with it on a timeout of a few round trips; both read-backs are exact.
#include <gtest/gtest.h>

#include <cstdio>

#include "cardlists/list_files.h"
#include "doorlink/doorlink.h"
#include "support/data_files.h"
#include "support/sim_fixture.h"

namespace doorlink {
namespace {

constexpr size_t kLossyListRecords = 40;

// A controller whose list holds kLossyListRecords distinct records, losing
// 5% of what it is sent (from the same start of its random draws each time).
int lossy_controller(doorsim::Simulator& sim) {
    const int id = sim.add_controller({});
    sim.update_state(id, [](doorsim::ControllerState& s) {
        s.cards.records.resize(kLossyListRecords);
        for (size_t i = 0; i < kLossyListRecords; ++i) s.cards.records[i].fill(static_cast<uint8_t>(i + 1));
    });
    doorsim::Faults f;
    f.dropRate = 0.05;
    sim.set_faults(id, f);
    return id;
}

// The read-back of list `list` from the controller, checked record by
// record; its milliseconds.
long exact_read_back_ms(doorsim::Simulator& sim, int id, int list) {
    long took = 0;
    uint32_t result = 0;
    took = testing::elapsed_ms(
        [&] { result = LookDoorName(sim.address(id).c_str(), list, sim.mac_text(id).c_str()); });
    EXPECT_EQ(result, 1u);
    const doorsim::Bytes file = testing::read_bytes(cardlists::ReadBackFilePath(list));
    EXPECT_EQ(file.size(), kLossyListRecords * doorsim::CardListState::kRecordSize);
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] != i / doorsim::CardListState::kRecordSize + 1) {
            ADD_FAILURE() << "record " << i / doorsim::CardListState::kRecordSize << " differs";
            break;
        }
    }
    return took;
}

TEST(AdaptiveReadBack, UnderRequestLossExactAndMuchFasterWithTheAdaptiveWaitOn) {
    doorsim::Simulator sim;
    const int fixed = lossy_controller(sim);
    const int adaptive = lossy_controller(sim);
    sim.start();

    const long fixedMs = exact_read_back_ms(sim, fixed, 11);
    // With the fixed wait, each request the controller lost went again once.
    const size_t lost = sim.received_count(fixed) - kLossyListRecords;
    ASSERT_GE(lost, 1u) << "no request lost: the test proves nothing";
    EXPECT_GE(fixedMs, static_cast<long>(lost) * 2000 - 100);

    ASSERT_EQ(SetAdaptiveWait(sim.address(adaptive).c_str(), 20), 1u);
    const long adaptiveMs = exact_read_back_ms(sim, adaptive, 12);
    std::printf("read-back of %zu records losing %zu requests: %ld ms with the fixed wait, %ld ms adaptive\n",
                kLossyListRecords, lost, fixedMs, adaptiveMs);
    EXPECT_LT(adaptiveMs * 4, fixedMs);
    SetAdaptiveWait(nullptr, 0);
}

}  // namespace
}  // namespace doorlink
