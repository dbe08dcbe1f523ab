// Card lists written, downloaded and read back through the library's
// exports, against a simulated controller.
#include <gtest/gtest.h>

#include <filesystem>

#include "controllers/sample_cards.h"
#include "sync/controller_list.h"

namespace doorlinkd {
namespace {

class ControllerList : public SimulatedDoor {
protected:
    int exportCalls = 0;
    const BeforeExport counted = [this] { ++exportCalls; };
};

TEST_F(ControllerList, ShortAndLongListsReadBackAsWritten) {
    for (const bool longRecords : {false, true}) {
        SCOPED_TRACE(longRecords ? "long records" : "short records");
        const std::vector<Card> cards = sample_cards(longRecords ? 30 : 120, longRecords);
        write_controller_list(door(longRecords), cards, 7, counted);
        EXPECT_EQ(cards_held(), cards.size());
        EXPECT_EQ(read_controller_list(door(longRecords), dataDir, 7, counted), cards);
    }
    // Before each export: 150 records, two downloads, two read-backs of two calls.
    EXPECT_EQ(exportCalls, 150 + 2 + 2 * 2);
}

TEST_F(ControllerList, NoCardsEmptyTheControllerWhichThenReadsBackAsNone) {
    write_controller_list(door(false), sample_cards(3, false), 0, counted);
    ASSERT_EQ(cards_held(), 3u);

    write_controller_list(door(false), {}, 0, counted);
    EXPECT_EQ(cards_held(), 0u);
    EXPECT_TRUE(read_controller_list(door(false), dataDir, 0, counted).empty());
    // The read-back still holds record 0, which the controller's total of 0 disowns.
    EXPECT_EQ(std::filesystem::file_size(dataDir.read_back_file(0)), 360u);
}

}  // namespace
}  // namespace doorlinkd
