// Reading one card of a card list source file: twelve profile reads, one per
// section, each into a 200-byte buffer, from a snapshot of the file that a
// whole-list conversion takes once and shares with its workers.
#pragma once

#include <array>

#include "cardlists/card_record.h"
#include "platform/profile.h"

namespace doorlink::cardlists {

constexpr size_t kSourceValueSize = 200;

class SourceCard {
public:
    // Reads the values of card index cardIndex; a missing key reads as "".
    SourceCard(const platform::ProfileSnapshot& source, int cardIndex);

    // Views into this object's buffers.
    CardValues values() const;

private:
    enum Field { kCardNo, kSerialNo, kUserStyle, kPassword, kOpenStyle, kFirstDay };
    static constexpr size_t kFields = kFirstDay + kDays;
    std::array<std::array<char, kSourceValueSize>, kFields> buffers_;
    std::array<size_t, kFields> lengths_{};
};

// Builds the record of one card of a source file.
void BuildSourceRecord(const platform::ProfileSnapshot& source, int cardIndex, RecordKind kind,
                       DigitEnd digitEnd, uint8_t* record);

}  // namespace doorlink::cardlists
