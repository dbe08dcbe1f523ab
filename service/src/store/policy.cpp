#include "store/policy.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include "model/card.h"
#include "store/access.h"
#include "store/controllers.h"
#include "store/database.h"

namespace doorlinkd {
namespace {

// The stored forms: dates as "yyyy-mm-dd", a day's ranges as minutes
// "from-to" separated by commas.
std::string stored_date(const CalendarDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

// The numbers of a stored text separated by the one separator, all of them
// or a StoreError: the database holds only what this file wrote.
std::vector<int> numbers_of(std::string_view text, char separator, const char* what) {
    std::vector<int> numbers;
    while (true) {
        int number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        const size_t used = static_cast<size_t>(end - text.data());
        if (error != std::errc() || (used < text.size() && text[used] != separator)) {
            throw StoreError(std::string("a stored ") + what + " is none: " + std::string(text));
        }
        numbers.push_back(number);
        if (used == text.size()) return numbers;
        text.remove_prefix(used + 1);
    }
}

CalendarDate date_of(const std::string& text) {
    const std::vector<int> parts = numbers_of(text, '-', "date");
    if (parts.size() != 3) throw StoreError("a stored date is none: " + text);
    return CalendarDate{parts[0], parts[1], parts[2]};
}

Value optional_date(const std::optional<CalendarDate>& date) {
    return date ? Value(stored_date(*date)) : Value();
}

std::optional<CalendarDate> optional_date_of(const Value& value) {
    if (value.is_null()) return std::nullopt;
    return date_of(value.text());
}

std::string stored_ranges(const std::vector<TimeRange>& ranges) {
    std::string text;
    for (const TimeRange& range : ranges) {
        if (!text.empty()) text += ',';
        text += std::to_string(range.from) + '-' + std::to_string(range.to);
    }
    return text;
}

std::vector<TimeRange> ranges_of(std::string text) {
    std::vector<TimeRange> ranges;
    if (text.empty()) return ranges;
    std::replace(text.begin(), text.end(), ',', '-');  // from-to-from-to...
    const std::vector<int> ends = numbers_of(text, '-', "time range");
    if (ends.size() % 2 != 0) throw StoreError("stored time ranges are none: " + text);
    for (size_t i = 0; i < ends.size(); i += 2) ranges.push_back(TimeRange{ends[i], ends[i + 1]});
    return ranges;
}

const char* mode_text(HolidayMode mode) { return mode == HolidayMode::open ? "open" : "closed"; }

constexpr const char* kDayColumns = "sunday, monday, tuesday, wednesday, thursday, friday, saturday";

std::vector<AccessSchedule> read_schedules(Tx& tx) {
    std::vector<AccessSchedule> out;
    for (const Row& row : tx.rows("SELECT name, holidays, revision, " + std::string(kDayColumns) +
                                  " FROM schedules ORDER BY name")) {
        AccessSchedule schedule;
        schedule.name = row.at(0).text();
        schedule.holidays = row.at(1).text() == "open" ? HolidayMode::open : HolidayMode::closed;
        schedule.revision = row.at(2).integer();
        for (size_t day = 0; day < kDays; ++day) schedule.days.at(day) = ranges_of(row.at(3 + day).text());
        out.push_back(std::move(schedule));
    }
    return out;
}

std::vector<Holiday> read_holidays(Tx& tx) {
    std::vector<Holiday> out;
    for (const Row& row : tx.rows("SELECT site, day, yearly, revision FROM holidays ORDER BY site, day")) {
        out.push_back(Holiday{row.at(0).text(), date_of(row.at(1).text()), row.at(2).integer() != 0,
                              row.at(3).integer()});
    }
    return out;
}

std::vector<Group> read_groups(Tx& tx) {
    std::vector<Group> out;
    std::map<std::string, size_t> index;
    for (const Row& row : tx.rows("SELECT name, revision FROM access_groups ORDER BY name")) {
        index[row.at(0).text()] = out.size();
        out.push_back(Group{row.at(0).text(), {}, row.at(1).integer()});
    }
    for (const Row& row : tx.rows("SELECT group_name, schedule, site, controllers FROM group_grants"
                                  " ORDER BY group_name, seq")) {
        out.at(index.at(row.at(0).text()))
            .grants.push_back(Grant{row.at(1).text(), row.at(2).text(), split_words(row.at(3).text())});
    }
    return out;
}

std::vector<Person> read_people(Tx& tx) {
    std::vector<Person> out;
    std::map<std::string, size_t> index;
    tx.each(
        "SELECT id, name, email, notes, active, valid_from, valid_until, user_style, open_style, revision"
        " FROM people ORDER BY id",
        [&](Row&& row) {
            Person person;
            person.id = row.at(0).text();
            person.name = row.at(1).text();
            person.email = optional_text(row.at(2));
            person.notes = row.at(3).text();
            person.active = row.at(4).integer() != 0;
            person.validFrom = optional_date_of(row.at(5));
            person.validUntil = optional_date_of(row.at(6));
            person.userStyle = static_cast<int>(row.at(7).integer());
            person.openStyle = static_cast<int>(row.at(8).integer());
            person.revision = row.at(9).integer();
            index[person.id] = out.size();
            out.push_back(std::move(person));
        });
    tx.each("SELECT person, group_name FROM person_groups ORDER BY person, seq",
            [&](Row&& row) { out.at(index.at(row.at(0).text())).groups.push_back(row.at(1).text()); });
    tx.each("SELECT person, card, serial, password FROM person_cards ORDER BY person, seq", [&](Row&& row) {
        out.at(index.at(row.at(0).text()))
            .cards.push_back(PersonCard{row.at(1).text(), row.at(2).text(), row.at(3).text()});
    });
    return out;
}

// The saved revision of a value (0: none), locked against other writers.
int64_t saved_revision(Tx& tx, const std::string& select, const std::vector<Value>& key) {
    const auto rows = tx.rows(select + " {for_update}", key);
    return rows.empty() ? 0 : rows.front().at(0).integer();
}

// Checks that a value may be put: added when new, changed on its saved
// revision.
void check_put(const std::string& what, int64_t saved, int64_t madeOn) {
    if (madeOn == 0 && saved != 0) throw Refused(what + " exists already");
    if (madeOn != 0 && saved == 0) throw NotFound("no " + what);
    if (madeOn != saved) {
        throw Stale(what + " is at revision " + std::to_string(saved) + ", not " + std::to_string(madeOn) +
                    ": someone changed it meanwhile; read it again and make the change on that");
    }
}

// Checks that a value may be removed: it is there, at the revision given.
void check_removal(const std::string& what, int64_t saved, int64_t seenAt) {
    if (saved == 0) throw NotFound("no " + what);
    if (seenAt != 0 && seenAt != saved) check_put(what, saved, seenAt);
}

void put_schedule(Tx& tx, const AccessSchedule& schedule, int64_t revision) {
    const std::string what = "schedule " + schedule.name;
    check_put(what, saved_revision(tx, "SELECT revision FROM schedules WHERE name = ?", {schedule.name}),
              schedule.revision);
    tx.exec("DELETE FROM schedules WHERE name = ?", {schedule.name});
    std::vector<Value> params = {schedule.name, mode_text(schedule.holidays), revision};
    for (const auto& ranges : schedule.days) params.emplace_back(stored_ranges(ranges));
    tx.exec("INSERT INTO schedules (name, holidays, revision, " + std::string(kDayColumns) +
                ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            params);
}

void put_holiday(Tx& tx, const Holiday& holiday, int64_t revision) {
    const std::string day = stored_date(holiday.date);
    const std::string what = "holiday " + day + " of site " + holiday.site;
    check_put(
        what,
        saved_revision(tx, "SELECT revision FROM holidays WHERE site = ? AND day = ?", {holiday.site, day}),
        holiday.revision);
    tx.exec("DELETE FROM holidays WHERE site = ? AND day = ?", {holiday.site, day});
    tx.exec("INSERT INTO holidays (site, day, yearly, revision) VALUES (?, ?, ?, ?)",
            {holiday.site, day, holiday.yearly ? 1 : 0, revision});
}

void put_group(Tx& tx, const Group& group, int64_t revision) {
    check_put("group " + group.name,
              saved_revision(tx, "SELECT revision FROM access_groups WHERE name = ?", {group.name}),
              group.revision);
    tx.exec("DELETE FROM group_grants WHERE group_name = ?", {group.name});
    tx.exec("DELETE FROM access_groups WHERE name = ?", {group.name});
    tx.exec("INSERT INTO access_groups (name, revision) VALUES (?, ?)", {group.name, revision});
    int seq = 0;
    for (const Grant& grant : group.grants) {
        tx.exec(
            "INSERT INTO group_grants (group_name, seq, schedule, site, controllers) VALUES (?, ?, ?, ?, ?)",
            {group.name, seq++, grant.schedule, grant.controllers.empty() ? grant.site : std::string(),
             join_words(grant.controllers)});
    }
}

void delete_person_rows(Tx& tx, const std::string& id) {
    tx.exec("DELETE FROM person_cards WHERE person = ?", {id});
    tx.exec("DELETE FROM person_groups WHERE person = ?", {id});
    tx.exec("DELETE FROM people WHERE id = ?", {id});
}

void put_person(Tx& tx, const Person& person, int64_t revision) {
    check_put("person " + person.id,
              saved_revision(tx, "SELECT revision FROM people WHERE id = ?", {person.id}), person.revision);
    delete_person_rows(tx, person.id);
    tx.exec(
        "INSERT INTO people (id, name, email, notes, active, valid_from, valid_until, user_style,"
        " open_style, revision) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {person.id, person.name, nullable(person.email), person.notes, person.active ? 1 : 0,
         optional_date(person.validFrom), optional_date(person.validUntil), person.userStyle,
         person.openStyle, revision});
    int seq = 0;
    for (const std::string& group : person.groups) {
        tx.exec("INSERT INTO person_groups (person, seq, group_name) VALUES (?, ?, ?)",
                {person.id, seq++, group});
    }
    seq = 0;
    for (const PersonCard& card : person.cards) {
        if (tx.any("SELECT 1 FROM cards WHERE card = ?", {card.card})) {
            throw Refused("card " + card.card + " of person " + person.id +
                          " is a card row: a card number is either a person's or a row's");
        }
        const auto holder = tx.rows("SELECT person FROM person_cards WHERE card = ?", {card.card});
        if (!holder.empty()) {
            throw Refused("card " + card.card + " of person " + person.id + " is person " +
                          holder.front().at(0).text() + "'s");
        }
        tx.exec("INSERT INTO person_cards (card, person, seq, serial, password) VALUES (?, ?, ?, ?, ?)",
                {card.card, person.id, seq++, card.serial, card.password});
    }
}

void remove_person(Tx& tx, const Removal& removal, bool erase) {
    check_removal("person " + removal.name,
                  saved_revision(tx, "SELECT revision FROM people WHERE id = ?", {removal.name}),
                  removal.revision);
    delete_person_rows(tx, removal.name);
    // The records of their cards keep the card number, of no one named.
    if (erase)
        tx.exec("UPDATE records SET person = NULL, person_erased = 1 WHERE person = ?", {removal.name});
}

}  // namespace

int64_t lock_policy_revision(Tx& tx) {
    return tx.rows("SELECT revision FROM policy_revision WHERE id = 1 {for_update}").at(0).at(0).integer();
}

int64_t next_policy_revision(Tx& tx, int64_t locked) {
    tx.exec("UPDATE policy_revision SET revision = ? WHERE id = 1", {locked + 1});
    return locked + 1;
}

PolicyAt SqlPolicy::policy() {
    return db_.transaction(false, [](Tx& tx) {
        PolicyAt at;
        at.revision = tx.rows("SELECT revision FROM policy_revision WHERE id = 1").at(0).at(0).integer();
        at.policy.schedules = read_schedules(tx);
        at.policy.holidays = read_holidays(tx);
        at.policy.groups = read_groups(tx);
        at.policy.people = read_people(tx);
        at.policy.cards = card_rows(tx);
        return at;
    });
}

int64_t SqlPolicy::policy_revision() {
    return db_.transaction(false, [](Tx& tx) {
        return tx.rows("SELECT revision FROM policy_revision WHERE id = 1").at(0).at(0).integer();
    });
}

int64_t SqlPolicy::save_policy(const PolicyEdit& edit) {
    return db_.transaction(true, [&](Tx& tx) {
        const int64_t locked = lock_policy_revision(tx);
        if (locked != edit.basedOn) {
            throw PolicyMoved("the policy was saved by someone else meanwhile (revision " +
                              std::to_string(locked) + ")");
        }
        const int64_t revision = next_policy_revision(tx, locked);
        // Removals first: a card or name freed in one edit may be taken in it.
        for (const Removal& removal : edit.erasedPeople) remove_person(tx, removal, true);
        for (const Removal& removal : edit.removedPeople) remove_person(tx, removal, false);
        for (const Removal& removal : edit.removedGroups) {
            check_removal(
                "group " + removal.name,
                saved_revision(tx, "SELECT revision FROM access_groups WHERE name = ?", {removal.name}),
                removal.revision);
            tx.exec("DELETE FROM group_grants WHERE group_name = ?", {removal.name});
            tx.exec("DELETE FROM access_groups WHERE name = ?", {removal.name});
        }
        for (const Removal& removal : edit.removedSchedules) {
            check_removal("schedule " + removal.name,
                          saved_revision(tx, "SELECT revision FROM schedules WHERE name = ?", {removal.name}),
                          removal.revision);
            tx.exec("DELETE FROM schedules WHERE name = ?", {removal.name});
        }
        for (const Holiday& holiday : edit.removedHolidays) {
            const std::string day = stored_date(holiday.date);
            check_removal("holiday " + day + " of site " + holiday.site,
                          saved_revision(tx, "SELECT revision FROM holidays WHERE site = ? AND day = ?",
                                         {holiday.site, day}),
                          holiday.revision);
            tx.exec("DELETE FROM holidays WHERE site = ? AND day = ?", {holiday.site, day});
        }
        for (const AccessSchedule& schedule : edit.schedules) put_schedule(tx, schedule, revision);
        for (const Holiday& holiday : edit.holidays) put_holiday(tx, holiday, revision);
        for (const Group& group : edit.groups) put_group(tx, group, revision);
        for (const Person& person : edit.people) put_person(tx, person, revision);
        for (const AuditEntry& entry : edit.audit) insert_audit(tx, entry);
        return revision;
    });
}

}  // namespace doorlinkd
