#include "fleet/reports.h"

#include <algorithm>
#include <map>

#include "cards/csv_text.h"
#include "fleet/json_forms.h"
#include "policy/access_report.h"
#include "policy/calendar.h"
#include "policy/policy_text.h"
#include "zones/instant_text.h"

namespace doorlinkd {
namespace {

constexpr int64_t kDayMs = int64_t{24} * 60 * 60 * 1000;

const char* lower_day_name(int weekday) {
    static constexpr std::array<const char*, kDays> kNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                              "thursday", "friday", "saturday"};
    return kNames.at(static_cast<size_t>(weekday));
}

std::vector<std::string> card_numbers(const Person& person) {
    std::vector<std::string> cards;
    cards.reserve(person.cards.size());
    for (const PersonCard& card : person.cards) cards.push_back(card.card);
    return cards;
}

const Person& person_of(const Policy& policy, const std::string& id) {
    const auto found =
        std::find_if(policy.people.begin(), policy.people.end(), [&](const Person& p) { return p.id == id; });
    if (found == policy.people.end()) throw NotFound("no person " + id);
    return *found;
}

Controller controller_of(Store& store, const std::string& name) {
    const std::optional<Controller> controller = store.controller(name);
    if (!controller) throw NotFound("no controller named " + name);
    return *controller;
}

}  // namespace

Report access_report(Store& store, const std::string& personId, int64_t atMs) {
    const PolicyAt at = store.policy();
    const Person& person = person_of(at.policy, personId);
    Report report;
    report.columns = {"person", "name", "controller", "site", "zone", "date", "weekday", "holiday", "ranges"};
    Json controllers = Json::array();
    for (const Controller& controller : store.controllers()) {
        const std::vector<AccessDay> days =
            access_days(at.policy, person, controller, atMs, kAccessReportDays);
        if (days.empty()) continue;
        Json dayList = Json::array();
        for (const AccessDay& access : days) {
            const std::string date = date_text(access.day.date);
            dayList.push_back(Json{{"date", date},
                                   {"weekday", lower_day_name(access.day.weekday)},
                                   {"holiday", access.holiday},
                                   {"admitted", access.admitted},
                                   {"ranges", ranges_json(access.ranges)}});
            report.rows.push_back({person.id, person.name, controller.name, controller.site, controller.zone,
                                   date, lower_day_name(access.day.weekday), access.holiday ? "yes" : "no",
                                   ranges_text(access.ranges)});
        }
        controllers.push_back(Json{{"controller", controller.name},
                                   {"site", controller.site},
                                   {"zone", controller.zone},
                                   {"days", dayList}});
    }
    report.json = Json{{"person", Json{{"id", person.id}, {"name", person.name}}},
                       {"active", person.active},
                       {"valid_from", optional_date_json(person.validFrom)},
                       {"valid_until", optional_date_json(person.validUntil)},
                       {"at", iso_instant(atMs)},
                       {"revision", at.revision},
                       {"controllers", controllers}};
    return report;
}

Report entry_report(Store& store, const std::string& controllerName, int64_t atMs) {
    const Controller controller = controller_of(store, controllerName);
    const PolicyAt at = store.policy();
    Report report;
    report.columns = {"kind",        "id",      "name",   "cards",         "valid_from",
                      "valid_until", "weekday", "ranges", "holiday_ranges"};
    Json people = Json::array();
    for (const EntryAccess& entry : entry_access(at.policy, controller, atMs)) {
        const Person& person = *entry.person;
        const std::vector<std::string> cards = card_numbers(person);
        Json days = Json::array();
        Json holidays = Json::array();
        for (int weekday = 0; weekday < kDays; ++weekday) {
            const auto& ranges = entry.days.at(static_cast<size_t>(weekday));
            const auto& holidayRanges = entry.holidays.at(static_cast<size_t>(weekday));
            days.push_back(ranges_json(ranges));
            holidays.push_back(ranges_json(holidayRanges));
            report.rows.push_back({"person", person.id, person.name, join_words(cards),
                                   optional_date_text(person.validFrom),
                                   optional_date_text(person.validUntil), lower_day_name(weekday),
                                   ranges_text(ranges), ranges_text(holidayRanges)});
        }
        people.push_back(Json{{"id", person.id},
                              {"name", person.name},
                              {"valid_from", optional_date_json(person.validFrom)},
                              {"valid_until", optional_date_json(person.validUntil)},
                              {"cards", cards},
                              {"days", days},
                              {"holidays", holidays}});
    }
    Json rows = Json::array();
    for (const Card& card : at.policy.cards) {
        if (!goes_to(card, controller.name)) continue;
        rows.push_back(Json{{"card", card.card}, {"extra_cards", card.extraCards}, {"days", card.days}});
        std::vector<std::string> cards{card.card};
        cards.insert(cards.end(), card.extraCards.begin(), card.extraCards.end());
        for (int weekday = 0; weekday < kDays; ++weekday) {
            const std::string& day = card.days.at(static_cast<size_t>(weekday));
            report.rows.push_back(
                {"card", card.card, "", join_words(cards), "", "", lower_day_name(weekday), day, day});
        }
    }
    report.json = Json{{"controller", controller.name},
                       {"site", controller.site},
                       {"zone", controller.zone},
                       {"at", iso_instant(atMs)},
                       {"revision", at.revision},
                       {"people", people},
                       {"cards", rows}};
    return report;
}

Report unused_cards_report(Store& store, int days, int64_t nowMs) {
    if (days < 1 || days > kMaxUnusedDays) {
        throw Refused("days: 1 to " + std::to_string(kMaxUnusedDays));
    }
    const Policy policy = store.policy().policy;
    // Each card number with its holder's JSON and the CSV's holder columns.
    struct Held {
        Json holder;
        std::vector<std::string> columns;  // kind, id, name
    };
    std::map<std::string, Held> held;
    for (const Person& person : policy.people) {
        for (const PersonCard& card : person.cards) {
            held[card.card] = Held{Json{{"kind", "person"}, {"id", person.id}, {"name", person.name}},
                                   {"person", person.id, person.name}};
        }
    }
    for (const Card& row : policy.cards) {
        std::vector<std::string> numbers{row.card};
        numbers.insert(numbers.end(), row.extraCards.begin(), row.extraCards.end());
        for (const std::string& number : numbers) {
            held.emplace(number, Held{Json{{"kind", "card"}, {"card", row.card}}, {"card", row.card, ""}});
        }
    }
    std::vector<std::string> numbers;
    numbers.reserve(held.size());
    for (const auto& entry : held) numbers.push_back(entry.first);
    const std::map<std::string, int64_t> last = store.last_record_instants(numbers);
    const int64_t sinceMs = nowMs - days * kDayMs;
    Report report;
    report.columns = {"card", "holder_kind", "holder_id", "holder_name", "last_record"};
    Json cards = Json::array();
    for (const auto& [number, holder] : held) {
        const auto newest = last.find(number);
        if (newest != last.end() && newest->second >= sinceMs) continue;
        const std::string lastText = newest == last.end() ? "" : iso_instant(newest->second);
        cards.push_back(Json{{"card", number},
                             {"holder", holder.holder},
                             {"last_record", lastText.empty() ? Json() : Json(lastText)}});
        report.rows.push_back(
            {number, holder.columns.at(0), holder.columns.at(1), holder.columns.at(2), lastText});
    }
    report.json =
        Json{{"days", days}, {"since", iso_instant(sinceMs)}, {"cards", cards}, {"total", cards.size()}};
    return report;
}

std::string report_csv(const Report& report) {
    std::string text;
    const auto append_line = [&](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) text += ',';
            const std::string& field = fields[i];
            const bool formula =
                !field.empty() && std::string("=+-@\t\r").find(field.front()) != std::string::npos;
            append_csv_field(text, formula ? "'" + field : field);
        }
        text += "\r\n";
    };
    append_line(report.columns);
    for (const std::vector<std::string>& row : report.rows) append_line(row);
    return text;
}

}  // namespace doorlinkd
