// A controller's card list: what the count announcement and the list record
// datagrams store, and what read-back requests are answered from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace doorsim {

struct CardListState {
    static constexpr size_t kRecordSize = 360;
    using Record = std::array<uint8_t, kRecordSize>;

    // The announced list, one slot per record; slots not yet written, and
    // read-back requests beyond the list, read as 0xFF.
    std::vector<Record> records;
    int announcements = 0;
    int recordsStored = 0;  // list record datagrams stored, copies included
    int readBacks = 0;      // read-back requests answered

    // The host sends every record five times in a row; the controller answers
    // the first copy of each burst only.
    int burstIndex = -1;
    int burstCopies = 0;

    // Set when the list changed in a way worth keeping on disk.
    bool saveWanted = false;
};

// The card list in a file of its own (the records, 360 bytes each, nothing
// else); false when it cannot be written or read.
bool save_card_list(const CardListState& cards, const std::string& path);
bool load_card_list(CardListState& cards, const std::string& path);

}  // namespace doorsim
