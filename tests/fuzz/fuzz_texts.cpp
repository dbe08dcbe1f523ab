// The texts callers hand over and the library cuts into bytes: day texts,
// card texts, digit texts, MAC texts and the fixed-width fields of the time
// lists, and the card records built from them (NameToText, NameToText1).
//   selector byte, then texts (a length byte each).
#include <cstring>
#include <string>

#include "cardlists/card_record.h"
#include "cardlists/encoders.h"
#include "commands/text_fields.h"
#include "core/mac.h"
#include "devices/mac_serial.h"
#include "doorlink/doorlink.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;
using namespace doorlink::cardlists;

namespace {

void encoders(fuzz::FuzzInput& in) {
    const std::string text = in.text();
    ParseDayText(text);
    EncodeCardText(text, in.u8());
    EncodeDigitText(text, DigitEnd::Zero);
    EncodeDigitText(text, DigitEnd::Converted);
    ReadDecimal(text);
    const size_t width = in.u8() % 16;
    commands::count_items(text.c_str(), width, in.u8());
    commands::read_decimal_field(text.c_str(), in.u8(), width);

    core::Mac mac{};
    if (core::ParseMacText(text.c_str(), mac) == 1) {
        FUZZ_CHECK(core::FormatMacText(mac.data()).size() == 12);
    }
    char serial[13];
    if (devices::MacToSerialNo(text.c_str(), serial) == 1) FUZZ_CHECK(std::strlen(serial) == 12);
    if (std::strlen(text.c_str()) == 12) devices::mac_from_pairs(text.c_str());
}

void name_to_text(fuzz::FuzzInput& in, bool longRecord) {
    const std::string card = in.text();
    const std::string serial = in.text(16);
    std::string days[kDays];
    for (std::string& day : days) day = in.text();
    const std::string password = in.text(16);
    const uint32_t userStyle = in.u8() % 3;
    const uint32_t openStyle = in.u8() % 4;
    const int32_t list = in.u8();
    const uint32_t append = in.u8() & 1;
    auto call = longRecord ? NameToText1 : NameToText;
    call(card.c_str(), serial.c_str(), userStyle, days[0].c_str(), days[1].c_str(), days[2].c_str(),
         days[3].c_str(), days[4].c_str(), days[5].c_str(), days[6].c_str(), password.c_str(), openStyle,
         list, append);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    switch (in.u8() % 3) {
        case 0: encoders(in); break;
        case 1:
            fuzz::clear_home();
            name_to_text(in, false);
            break;
        default:
            fuzz::clear_home();
            name_to_text(in, true);
            break;
    }
    return 0;
}
