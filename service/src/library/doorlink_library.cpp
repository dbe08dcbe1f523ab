#include "library/doorlink_library.h"

#include <doorlink/doorlink.h>

namespace doorlinkd::library {
namespace {

// The card texts of a long record's card field: the card, then its further
// cards at 9-character steps ("00112345,00254321").
std::string long_card_text(const Card& card) {
    std::string text = card.card;
    for (const std::string& extra : card.extraCards) text += "," + extra;
    return text;
}

}  // namespace

bool set_port_range(int start, int end) { return SetPortRange(start, end) == 1; }

bool write_list_record(const Card& card, bool longRecords, int list, bool append) {
    const auto& d = card.days;
    const auto user = static_cast<uint32_t>(card.userStyle);
    const auto open = static_cast<uint32_t>(card.openStyle);
    const uint32_t more = append ? 1 : 0;
    if (longRecords) {
        const std::string cards = long_card_text(card);
        return NameToText1(cards.c_str(), card.serial.c_str(), user, d[0].c_str(), d[1].c_str(), d[2].c_str(),
                           d[3].c_str(), d[4].c_str(), d[5].c_str(), d[6].c_str(), card.password.c_str(),
                           open, list, more) == 1;
    }
    return NameToText(card.card.c_str(), card.serial.c_str(), user, d[0].c_str(), d[1].c_str(), d[2].c_str(),
                      d[3].c_str(), d[4].c_str(), d[5].c_str(), d[6].c_str(), card.password.c_str(), open,
                      list, more) == 1;
}

bool download_list(const Controller& controller, int count, int list) {
    const char* address = controller.address.c_str();
    const char* mac = controller.mac.c_str();
    return (controller.longRecords ? DoorDownName1(address, count, list, mac)
                                   : DoorDownName(address, count, list, mac)) == 1;
}

bool read_back_list(const Controller& controller, int list) {
    return LookDoorName(controller.address.c_str(), list, controller.mac.c_str()) == 1;
}

bool read_back_to_ini(const std::string& readBackPath, int list) {
    return NameToini(readBackPath.c_str(), list) == 1;
}

uint32_t retrieve_records(const Controller& controller) {
    const char* address = controller.address.c_str();
    const char* mac = controller.mac.c_str();
    return controller.photos ? DataRtn(address, controller.number, mac)
                             : TxDataRtn(address, controller.number, mac);
}

}  // namespace doorlinkd::library
