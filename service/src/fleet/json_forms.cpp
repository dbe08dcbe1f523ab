#include "fleet/json_forms.h"

#include "policy/calendar.h"
#include "policy/policy_text.h"

#include "cards/card_rules.h"
#include "store/record_event.h"

namespace doorlinkd {
namespace {

Json optional_text(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

}  // namespace

Json to_json(const Controller& c) {
    return Json{{"name", c.name},        {"address", c.address}, {"mac", c.mac},     {"number", c.number},
                {"long", c.longRecords}, {"photos", c.photos},   {"lossy", c.lossy}, {"site", c.site}};
}

Json to_json(const Controller& c, const ServedSites& served) {
    Json json = to_json(c);
    json["served"] = served.serves(c.site);
    return json;
}

Json to_json(const Site& site) {
    return Json{{"name", site.name}, {"zone", site.zone}, {"description", site.description}};
}

Json to_json(const Card& card, PinView pin) {
    Json json{{"card", card.card}, {"serial", card.serial}};
    if (pin == PinView::Shown) json["password"] = card.password;
    json["user_style"] = card.userStyle;
    json["open_style"] = card.openStyle;
    for (int day = 0; day < kDays; ++day) json[kCardColumns[kFirstDayColumn + day]] = card.days[day];
    json["extra_cards"] = card.extraCards;
    json["controllers"] = card.controllers;
    return json;
}

Json to_json(const SyncResult& result, PinView pin) {
    Json drift = Json::array();
    for (const Drift& d : result.drift) {
        const bool hidden = pin == PinView::Hidden && d.field == kCardColumns[kPasswordColumn];
        const auto value = [hidden](const std::optional<std::string>& text) {
            return hidden && text ? Json("(hidden)") : optional_text(text);
        };
        drift.push_back(Json{{"card", d.card},
                             {"field", d.field},
                             {"database", value(d.database)},
                             {"controller", value(d.controller)}});
    }
    Json json{{"name", result.controller},
              {"status", status_name(result.status)},
              {"cards", result.cards},
              {"drift", drift}};
    if (!result.message.empty()) json["message"] = result.message;
    return json;
}

Json to_json(const ArchiveResult& result) {
    Json json{{"name", result.controller},
              {"status", status_name(result.status)},
              {"records", result.records},
              {"photos", result.photos}};
    if (!result.message.empty()) json["message"] = result.message;
    return json;
}

Json to_json(const StoredRecord& record, const std::map<std::string, std::string>& personNames) {
    Json photo = nullptr;
    if (record.photo) {
        photo = Json{
            {"sha256", record.photo->sha256}, {"bytes", record.photo->bytes}, {"whole", record.photo->whole}};
    }
    Json json{
        {"controller", record.controller}, {"card", record.card}, {"time", record.time}, {"photo", photo}};
    put_stamp(json, record.stamp);
    json["person"] = record.person ? Json(*record.person) : Json(nullptr);
    if (record.person) {
        const auto name = personNames.find(*record.person);
        json["person_name"] = name == personNames.end() ? Json() : Json(name->second);
    }
    if (record.personErased) json["person_erased"] = true;
    return json;
}

namespace {}  // namespace

Json optional_date_json(const std::optional<CalendarDate>& date) {
    return date ? Json(date_text(*date)) : Json(nullptr);
}

Json ranges_json(const std::vector<TimeRange>& ranges) {
    Json texts = Json::array();
    for (const TimeRange& range : ranges) texts.push_back(ranges_text({range}));
    return texts;
}

Json to_json(const AccessSchedule& schedule) {
    Json days = Json::array();
    for (const auto& ranges : schedule.days) days.push_back(ranges_json(ranges));
    return Json{{"name", schedule.name},
                {"days", days},
                {"holidays", schedule.holidays == HolidayMode::open ? "open" : "closed"},
                {"revision", schedule.revision}};
}

Json to_json(const Holiday& holiday) {
    return Json{{"site", holiday.site},
                {"date", date_text(holiday.date)},
                {"yearly", holiday.yearly},
                {"revision", holiday.revision}};
}

Json to_json(const Group& group) {
    return Json{{"name", group.name}, {"grants", grant_texts(group.grants)}, {"revision", group.revision}};
}

Json to_json(const Person& person) {
    Json cards = Json::array();
    for (const PersonCard& card : person.cards)
        cards.push_back(Json{{"card", card.card}, {"serial", card.serial}});
    return Json{{"id", person.id},
                {"name", person.name},
                {"email", person.email ? Json(*person.email) : Json(nullptr)},
                {"notes", person.notes},
                {"active", person.active},
                {"valid_from", optional_date_json(person.validFrom)},
                {"valid_until", optional_date_json(person.validUntil)},
                {"groups", person.groups},
                {"cards", cards},
                {"user_style", person.userStyle},
                {"open_style", person.openStyle},
                {"revision", person.revision}};
}

}  // namespace doorlinkd
