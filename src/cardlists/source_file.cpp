#include "cardlists/source_file.h"

#include <cstdio>
#include <cstring>

namespace doorlink::cardlists {

SourceCard::SourceCard(const platform::ProfileSnapshot& source, int cardIndex) {
    // The key is the section name followed by the card index ("%s%d").
    char number[16];
    const int digits = std::snprintf(number, sizeof number, "%d", cardIndex);
    auto read = [&](Field field, const char* name) {
        char key[32];  // the longest name, "Wednesday", and 11 characters of number
        const size_t length = std::strlen(name);
        std::memcpy(key, name, length);
        std::memcpy(key + length, number, static_cast<size_t>(digits) + 1);
        lengths_[field] = source.read_string(name, key, "", buffers_[field].data(), kSourceValueSize);
    };
    read(kCardNo, "CardNo");
    read(kSerialNo, "SerialNo");
    read(kUserStyle, "UserStyle");
    for (size_t day = 0; day < kDays; ++day) read(static_cast<Field>(kFirstDay + day), kDayNames[day]);
    read(kPassword, "Password");
    read(kOpenStyle, "OpenStyle");
}

CardValues SourceCard::values() const {
    auto text = [&](int field) { return std::string_view(buffers_[field].data(), lengths_[field]); };
    CardValues card;
    card.cardNo = text(kCardNo);
    card.serialNo = text(kSerialNo);
    card.userStyle = UserStyleOf(text(kUserStyle));
    for (size_t day = 0; day < kDays; ++day) card.days[day] = text(kFirstDay + static_cast<int>(day));
    card.password = text(kPassword);
    card.openStyle = OpenStyleOf(text(kOpenStyle));
    return card;
}

void BuildSourceRecord(const platform::ProfileSnapshot& source, int cardIndex, RecordKind kind,
                       DigitEnd digitEnd, uint8_t* record) {
    SourceCard card(source, cardIndex);
    BuildCardRecord(card.values(), kind, digitEnd, record);
}

}  // namespace doorlink::cardlists
