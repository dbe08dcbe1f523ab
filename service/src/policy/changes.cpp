#include "policy/changes.h"

#include <array>
#include <map>

#include "model/card.h"
#include "policy/calendar.h"
#include "policy/policy_text.h"

namespace doorlinkd {
namespace {

// A PIN, and a person's personal data (which an erasure takes away, so
// the audit log never holds it), are written as "set" or "changed", never
// as their texts.
struct Field {
    std::string text;
    bool secret = false;
};

// A value's fields by name, in the order they are written.
using Fields = std::map<std::string, Field>;

Fields fields_of(const Person& person) {
    Fields fields{{"name", {person.name, true}},
                  {"email", {person.email.value_or(""), true}},
                  {"notes", {person.notes, true}},
                  {"active", {person.active ? "true" : "false"}},
                  {"valid_from", {optional_date_text(person.validFrom)}},
                  {"valid_until", {optional_date_text(person.validUntil)}},
                  {"groups", {join_words(person.groups)}},
                  {"user_style", {std::to_string(person.userStyle)}},
                  {"open_style", {std::to_string(person.openStyle)}}};
    for (const PersonCard& card : person.cards) {
        fields["card " + card.card] = {"serial " + card.serial};
        fields["card " + card.card + " PIN"] = {card.password, true};
    }
    return fields;
}

Fields fields_of(const Group& group) { return {{"grants", {join_words(grant_texts(group.grants))}}}; }

Fields fields_of(const AccessSchedule& schedule) {
    static constexpr std::array<const char*, kDays> kDayNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                                 "thursday", "friday", "saturday"};
    Fields fields{{"holidays", {schedule.holidays == HolidayMode::open ? "open" : "closed"}}};
    for (size_t day = 0; day < kDays; ++day) fields[kDayNames.at(day)] = {ranges_text(schedule.days.at(day))};
    return fields;
}

Fields fields_of(const Holiday& holiday) { return {{"yearly", {holiday.yearly ? "true" : "false"}}}; }

void append(std::string& out, const std::string& part) {
    if (!out.empty()) out += "; ";
    out += part;
}

std::string quoted(const std::string& text) { return text.empty() ? "(none)" : text; }

// Each field added, removed or changed; a secret field only by its name.
std::string differences(const Fields& before, const Fields& after) {
    std::string out;
    for (const auto& [name, field] : after) {
        const auto old = before.find(name);
        if (old == before.end()) {
            if (field.secret) {
                if (!field.text.empty()) append(out, name + " set");
            } else if (!field.text.empty()) {
                append(out, name + ": " + field.text);
            }
        } else if (old->second.text != field.text) {
            append(out, field.secret ? name + " changed"
                                     : name + ": " + quoted(old->second.text) + " -> " + quoted(field.text));
        }
    }
    for (const auto& [name, field] : before) {
        if (after.count(name) == 0 && !field.secret) append(out, name + " removed");
    }
    return out;
}

template <typename Value>
std::string changes(const Value* before, const Value* after) {
    if (after == nullptr) return before == nullptr ? "" : "removed";
    return differences(before == nullptr ? Fields{} : fields_of(*before), fields_of(*after));
}

}  // namespace

std::string changes_of(const Person* before, const Person* after) { return changes(before, after); }
std::string changes_of(const Group* before, const Group* after) { return changes(before, after); }
std::string changes_of(const AccessSchedule* before, const AccessSchedule* after) {
    return changes(before, after);
}
std::string changes_of(const Holiday* before, const Holiday* after) { return changes(before, after); }

}  // namespace doorlinkd
