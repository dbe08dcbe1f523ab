// Reading back a controller's card list: the library reads every record
// into the read-back file and turns it into an INI file of the source file's
// keys, which is read here into cards.
#include <ini.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <string>

#include "library/doorlink_library.h"
#include "model/errors.h"
#include "sync/controller_list.h"

namespace doorlinkd {
namespace {

// The controller's count, which LookDoorName writes as it reads record 0.
long controller_total(const DataDir& dataDir, int list) {
    struct Wanted {
        std::string key;
        long total = -1;
    } wanted{"ReTolNameList" + std::to_string(list)};
    const auto on_key = [](void* user, const char* section, const char* name, const char* value) {
        auto& w = *static_cast<Wanted*>(user);
        if (std::strcmp(section, "ReTolNameList") == 0 && w.key == name)
            w.total = std::strtol(value, nullptr, 10);
        return 1;
    };
    if (ini_parse(dataDir.registry().c_str(), on_key, &wanted) < 0 || wanted.total < 0) {
        throw StoreError(dataDir.registry() + " holds no " + wanted.key + " after a read-back");
    }
    return wanted.total;
}

// "00112345,00254321": the card, then its further cards.
void set_card_texts(const std::string& value, Card& card) {
    size_t comma = value.find(',');
    card.card = value.substr(0, comma);
    while (comma != std::string::npos) {
        const size_t next = value.find(',', comma + 1);
        card.extraCards.push_back(value.substr(comma + 1, next - comma - 1));  // to the end when last
        comma = next;
    }
}

// The cards of the INI file as its keys come: "<Field><k>" in the section of
// its field, card k (from 1) being cards[k - 1]. One pass over the file,
// with nothing kept but the cards.
struct IniCards {
    std::vector<Card> cards;
    std::vector<bool> seen;  // whether card k has its CardNo key

    static int on_key(void* user, const char* section, const char* name, const char* value) {
        auto& self = *static_cast<IniCards*>(user);
        const size_t length = std::strlen(section);
        if (std::strncmp(name, section, length) != 0) return 1;  // not a key of this file's form
        char* end = nullptr;
        const long k = std::strtol(name + length, &end, 10);
        if (*end != '\0' || k < 1 || static_cast<size_t>(k) > self.cards.size()) return 1;
        Card& card = self.cards[static_cast<size_t>(k - 1)];
        const std::string field = section;
        if (field == "CardNo") {
            set_card_texts(value, card);
            self.seen[static_cast<size_t>(k - 1)] = true;
        } else if (field == "SerialNo") {
            card.serial = value;
        } else if (field == "Password") {
            card.password = value;
        } else if (field == "UserStyle") {
            card.userStyle = static_cast<int>(std::strtol(value, nullptr, 10));
        } else if (field == "OpenStyle") {
            card.openStyle = static_cast<int>(std::strtol(value, nullptr, 10));
        } else {
            for (int day = 0; day < kDays; ++day) {
                if (strcasecmp(section, kCardColumns[kFirstDayColumn + day]) == 0) card.days[day] = value;
            }
        }
        return 1;
    }
};

}  // namespace

std::vector<Card> read_controller_list(const Controller& controller, const DataDir& dataDir, int list,
                                       const BeforeExport& beforeExport) {
    beforeExport();
    if (!library::read_back_list(controller, list)) throw StepFailed("the read-back of the card list failed");
    const long total = controller_total(dataDir, list);

    beforeExport();
    if (!library::read_back_to_ini(dataDir.read_back_file(list), list)) {
        throw StoreError("the read-back file " + dataDir.read_back_file(list) + " could not be turned into " +
                         dataDir.read_back_ini(list));
    }
    IniCards read;
    read.cards.resize(static_cast<size_t>(total));
    read.seen.resize(static_cast<size_t>(total));
    if (ini_parse(dataDir.read_back_ini(list).c_str(), &IniCards::on_key, &read) < 0) {
        throw StoreError(dataDir.read_back_ini(list) + " could not be read");
    }
    // The controller's count may change while it is read; the file then
    // holds another number of cards.
    const auto missing = std::find(read.seen.begin(), read.seen.end(), false);
    if (missing != read.seen.end()) {
        throw StepFailed("the read-back holds " + std::to_string(missing - read.seen.begin()) +
                         " cards where the controller counts " + std::to_string(total));
    }
    return std::move(read.cards);
}

}  // namespace doorlinkd
