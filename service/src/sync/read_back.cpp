// Reading back a controller's card list: the library reads every record
// into the read-back file and turns it into an INI file of the source file's
// keys, which is read here into cards.
#include <INIReader.h>

#include <string>

#include "library/doorlink_library.h"
#include "model/errors.h"
#include "sync/controller_list.h"

namespace doorlinkd {
namespace {

// The controller's count, which LookDoorName writes as it reads record 0.
long controller_total(const DataDir& dataDir, int list) {
    const INIReader registry(dataDir.registry());
    const std::string key = "ReTolNameList" + std::to_string(list);
    const long total = registry.ParseError() < 0 ? -1 : registry.GetInteger("ReTolNameList", key, -1);
    if (total < 0) throw StoreError(dataDir.registry() + " holds no " + key + " after a read-back");
    return total;
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

// Card k of the INI file (k from 1). Sections and keys are looked up
// regardless of case, so the CSV column names of the days name them too.
Card card_from_ini(const INIReader& ini, long k) {
    const std::string n = std::to_string(k);
    Card card;
    set_card_texts(ini.Get("CardNo", "CardNo" + n, ""), card);
    card.serial = ini.Get("SerialNo", "SerialNo" + n, "");
    card.password = ini.Get("Password", "Password" + n, "");
    card.userStyle = static_cast<int>(ini.GetInteger("UserStyle", "UserStyle" + n, -1));
    card.openStyle = static_cast<int>(ini.GetInteger("OpenStyle", "OpenStyle" + n, -1));
    for (int day = 0; day < kDays; ++day) {
        const std::string name = kCardColumns[kFirstDayColumn + day];
        card.days[day] = ini.Get(name, name + n, "");
    }
    return card;
}

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
    const INIReader ini(dataDir.read_back_ini(list));
    if (ini.ParseError() < 0) throw StoreError(dataDir.read_back_ini(list) + " could not be read");

    std::vector<Card> cards;
    cards.reserve(static_cast<size_t>(total));
    for (long k = 1; k <= total; ++k) {
        // The controller's count may change while it is read; the file then
        // holds another number of cards.
        if (!ini.HasValue("CardNo", "CardNo" + std::to_string(k))) {
            throw StepFailed("the read-back holds " + std::to_string(k - 1) +
                             " cards where the controller counts " + std::to_string(total));
        }
        cards.push_back(card_from_ini(ini, k));
    }
    return cards;
}

}  // namespace doorlinkd
