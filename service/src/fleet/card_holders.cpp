#include "fleet/card_holders.h"

#include <map>
#include <optional>
#include <set>

#include "fleet/json_forms.h"

namespace doorlinkd {
namespace {

// The card of an event's data, when the event is of one.
std::optional<std::string> event_card(const Event& event, Json& data) {
    if (event.kind != "record" && event.kind != "photo") return std::nullopt;
    data = Json::parse(event.data, nullptr, false);
    if (!data.is_object()) return std::nullopt;
    const auto card = data.find("card");
    if (card == data.end() || !card->is_string()) return std::nullopt;
    return card->get<std::string>();
}

}  // namespace

Json records_json(Store& store, const std::vector<StoredRecord>& records) {
    std::set<std::string> ids;
    for (const StoredRecord& record : records) {
        if (record.person) ids.insert(*record.person);
    }
    const std::map<std::string, std::string> names =
        ids.empty() ? std::map<std::string, std::string>{}
                    : store.person_names(std::vector<std::string>(ids.begin(), ids.end()));
    Json list = Json::array();
    for (const StoredRecord& record : records) list.push_back(to_json(record, names));
    return list;
}

std::vector<Event> with_card_holders(Store& store, std::vector<Event> events) {
    std::vector<Json> data(events.size());
    std::vector<std::optional<std::string>> cards(events.size());
    std::set<std::string> wanted;
    for (size_t i = 0; i < events.size(); ++i) {
        const std::optional<std::string>& card = cards[i] = event_card(events[i], data[i]);
        if (card) wanted.insert(*card);
    }
    if (wanted.empty()) return events;
    const std::map<std::string, PersonName> holders =
        store.card_holders(std::vector<std::string>(wanted.begin(), wanted.end()));
    for (size_t i = 0; i < events.size(); ++i) {
        if (const std::optional<std::string>& card = cards[i]) {
            // Beside what the event said when it came: who holds the card now.
            const auto holder = holders.find(*card);
            if (!data[i].contains("person")) {
                data[i]["person"] = holder == holders.end() ? Json() : Json(holder->second.id);
            }
            data[i]["person_name"] = holder == holders.end() ? Json() : Json(holder->second.name);
            events[i].data = data[i].dump();
        }
    }
    return events;
}

std::vector<std::string> event_texts(Store& store, std::vector<Event> events) {
    std::vector<std::string> texts;
    texts.reserve(events.size());
    for (const Event& event : with_card_holders(store, std::move(events))) texts.push_back(event_json(event));
    return texts;
}

}  // namespace doorlinkd
