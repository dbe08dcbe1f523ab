#include "cardlists/card_record.h"

#include <cstring>

#include "core/bytes.h"

namespace doorlink::cardlists {

const std::array<const char*, kDays> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

uint8_t UserStyleOf(std::string_view text) { return text == "0" ? 0 : 1; }

uint8_t OpenStyleOf(std::string_view text) {
    if (text == "0") return 0;
    if (text == "1") return 1;
    return 2;
}

void BuildCardRecord(const CardValues& card, RecordKind kind, DigitEnd digitEnd, uint8_t* record) {
    const size_t size = record_size(kind);
    core::ByteWriter w(record, size);
    w.fill(0);
    w.bytes(kCardAt, EncodeCardText(card.cardNo, 0))
        .bytes(kSerialAt, EncodeDigitText(card.serialNo, digitEnd))
        .u8(kUserStyleAt, card.userStyle);
    for (size_t day = 0; day < kDays; ++day) {
        w.bytes(kFirstDayAt + day * kDayFieldSize, ParseDayText(card.days[day]));
    }
    w.bytes(kPasswordAt, EncodeDigitText(card.password, digitEnd)).u8(kOpenStyleAt, card.openStyle);
    if (kind == RecordKind::Long) {
        for (size_t k = 1; k <= kFurtherCards; ++k) {
            w.bytes(kFurtherCardsAt + (k - 1) * kCardFieldSize,
                    EncodeCardText(card.cardNo, k * kCardTextStep));
        }
    }
}

}  // namespace doorlink::cardlists
