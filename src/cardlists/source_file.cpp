#include "cardlists/source_file.h"

#include <cstdio>
#include <string>

namespace doorlink::cardlists {

SourceCard::SourceCard(const platform::ProfileSnapshot& source, int cardIndex) {
    // The key is the section name followed by the card index ("%s%d").
    char number[16];
    std::snprintf(number, sizeof number, "%d", cardIndex);
    std::string key;
    auto read = [&](Field field, const char* name) {
        key.assign(name).append(number);
        lengths_[field] = source.read_string(name, key.c_str(), "", buffers_[field].data(), kSourceValueSize);
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
