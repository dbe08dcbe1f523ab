#include "library/doorlink_library.h"

#include <doorlink/doorlink.h>

#include <atomic>

namespace doorlinkd::library {
namespace {

std::atomic<bool> everyControllerLossy{false};

// The least resend wait of a lossy controller's exchanges, which the
// library's wait adapts upwards from.
constexpr int32_t kLossyMinimumWaitMs = 20;

// Sets the library's resend wait for the controller's exchanges as its
// lossy asks: adaptive, from kLossyMinimumWaitMs, for a lossy controller
// (or for every one, after set_every_controller_lossy(true)); the library's
// fixed wait otherwise, also for a controller that was lossy a moment ago.
void adapt_waits(const Controller& controller) {
    const int32_t minimumMs = controller.lossy || everyControllerLossy ? kLossyMinimumWaitMs : 0;
    SetAdaptiveWait(controller.address.c_str(), minimumMs);
}

// The controller's address for an exchange, its waits set first: every
// call below that talks to a controller takes the address here.
const char* exchange_address(const Controller& controller) {
    adapt_waits(controller);
    return controller.address.c_str();
}

// The card texts of a long record's card field: the card, then its further
// cards at 9-character steps ("00112345,00254321").
std::string long_card_text(const Card& card) {
    std::string text = card.card;
    for (const std::string& extra : card.extraCards) text += "," + extra;
    return text;
}

}  // namespace

bool set_port_range(int start, int end) { return SetPortRange(start, end) == 1; }

void set_every_controller_lossy(bool lossy) { everyControllerLossy = lossy; }

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
    const char* address = exchange_address(controller);
    const char* mac = controller.mac.c_str();
    return (controller.longRecords ? DoorDownName1(address, count, list, mac)
                                   : DoorDownName(address, count, list, mac)) == 1;
}

bool read_back_list(const Controller& controller, int list) {
    return LookDoorName(exchange_address(controller), list, controller.mac.c_str()) == 1;
}

bool read_back_to_ini(const std::string& readBackPath, int list) {
    return NameToini(readBackPath.c_str(), list) == 1;
}

uint32_t retrieve_records(const Controller& controller) {
    const char* address = exchange_address(controller);
    const char* mac = controller.mac.c_str();
    return controller.photos ? DataRtn(address, controller.number, mac)
                             : TxDataRtn(address, controller.number, mac);
}

std::optional<std::string> read_clock(const Controller& controller) {
    char text[32] = {};
    uint32_t weekDay = 0;
    if (DoorShowTime(exchange_address(controller), text, &weekDay, controller.mac.c_str()) != 1)
        return std::nullopt;
    return std::string(text);
}

bool set_clock_to(const Controller& controller, const std::string& localText) {
    return DoorSetTimeTo(exchange_address(controller), controller.mac.c_str(), localText.c_str()) == 1;
}

std::optional<int> door_state(const Controller& controller) {
    uint32_t state = 0;
    if (DoorCurState(exchange_address(controller), controller.mac.c_str(), &state) != 1) return std::nullopt;
    return static_cast<int>(state);
}

bool open_door(const Controller& controller, int door) {
    if (door < 0 || door > 3) return false;
    return DoorCompelOpenOrClose(exchange_address(controller), static_cast<uint32_t>(door),
                                 controller.mac.c_str()) == 1;
}

int arm_monitoring(const Controller& controller) {
    uint32_t socket = 0;
    if (DoorTransIP(exchange_address(controller), &socket, controller.mac.c_str()) != 1) return -1;
    return static_cast<int>(socket);
}

std::optional<std::string> receive_error_report(int socket, int controllerNumber) {
    // Ten bytes of the controller number line, a report of up to 1055 bytes
    // and its terminating zero.
    char text[1066 + 1] = {};
    if (socket < 0 || ErrorScore("", text, controllerNumber, static_cast<uint32_t>(socket)) != 1) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<PushedPhoto> receive_photo(int socket) {
    char card[9] = {};
    char time[17] = {};
    if (socket < 0 || DoorPic(0, card, time, static_cast<uint32_t>(socket)) != 1) return std::nullopt;
    return PushedPhoto{card, time};
}

}  // namespace doorlinkd::library
