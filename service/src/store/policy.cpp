#include "store/policy.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <string_view>

#include "model/card.h"
#include "store/access.h"
#include "store/card_rows.h"
#include "store/database.h"

namespace doorlinkd {
namespace {

// The stored forms: dates as date_text writes them, a day's ranges as
// minutes "from-to" separated by commas.

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
    return date ? Value(date_text(*date)) : Value();
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

constexpr const char* kScheduleDayColumns = "sunday, monday, tuesday, wednesday, thursday, friday, saturday";

// Which versions are read: each value keeps a row per saved version, from
// the revision that saved it (since) to the one that changed or removed it
// (until; NULL while it is the saved one).
struct Versions {
    std::optional<int64_t> revision;  // none: the saved ones

    // The condition on the rows of alias, its values appended to params.
    std::string where(const std::string& alias, std::vector<Value>& params) const {
        if (!revision) return alias + ".until IS NULL";
        params.emplace_back(*revision);
        params.emplace_back(*revision);
        return alias + ".since <= ? AND (" + alias + ".until IS NULL OR " + alias + ".until > ?)";
    }
};

std::vector<AccessSchedule> read_schedules(Tx& tx, const Versions& versions) {
    std::vector<Value> params;
    std::vector<AccessSchedule> out;
    for (const Row& row :
         tx.rows("SELECT s.name, s.holidays, s.since, " + std::string(kScheduleDayColumns) +
                     " FROM schedules s WHERE " + versions.where("s", params) + " ORDER BY s.name",
                 params)) {
        AccessSchedule schedule;
        schedule.name = row.at(0).text();
        schedule.holidays = row.at(1).text() == "open" ? HolidayMode::open : HolidayMode::closed;
        schedule.revision = row.at(2).integer();
        for (size_t day = 0; day < kDays; ++day) schedule.days.at(day) = ranges_of(row.at(3 + day).text());
        out.push_back(std::move(schedule));
    }
    return out;
}

std::vector<Holiday> read_holidays(Tx& tx, const Versions& versions) {
    std::vector<Value> params;
    std::vector<Holiday> out;
    for (const Row& row : tx.rows("SELECT h.site, h.day, h.yearly, h.since FROM holidays h WHERE " +
                                      versions.where("h", params) + " ORDER BY h.site, h.day",
                                  params)) {
        out.push_back(Holiday{row.at(0).text(), date_of(row.at(1).text()), row.at(2).integer() != 0,
                              row.at(3).integer()});
    }
    return out;
}

std::vector<Group> read_groups(Tx& tx, const Versions& versions) {
    std::vector<Group> out;
    std::map<std::string, size_t> index;
    std::vector<Value> params;
    for (const Row& row : tx.rows("SELECT a.name, a.since FROM access_groups a WHERE " +
                                      versions.where("a", params) + " ORDER BY a.name",
                                  params)) {
        index[row.at(0).text()] = out.size();
        out.push_back(Group{row.at(0).text(), {}, row.at(1).integer()});
    }
    params.clear();
    // A version's grants are the rows saved with it.
    for (const Row& row :
         tx.rows("SELECT g.group_name, g.schedule, g.site, g.controllers FROM group_grants g"
                 " JOIN access_groups a ON a.name = g.group_name AND a.since = g.since WHERE " +
                     versions.where("a", params) + " ORDER BY g.group_name, g.seq",
                 params)) {
        out.at(index.at(row.at(0).text()))
            .grants.push_back(Grant{row.at(1).text(), row.at(2).text(), split_words(row.at(3).text())});
    }
    return out;
}

std::vector<Person> read_people(Tx& tx, const Versions& versions) {
    std::vector<Person> out;
    std::map<std::string, size_t> index;
    std::vector<Value> params;
    const std::string where = versions.where("p", params);
    tx.each(
        "SELECT p.id, p.name, p.email, p.notes, p.active, p.valid_from, p.valid_until, p.user_style,"
        " p.open_style, p.since FROM people p WHERE " +
            where + " ORDER BY p.id",
        params, [&](Row&& row) {
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
    tx.each(
        "SELECT g.person, g.group_name FROM person_groups g"
        " JOIN people p ON p.id = g.person AND p.since = g.since WHERE " +
            where + " ORDER BY g.person, g.seq",
        params, [&](Row&& row) { out.at(index.at(row.at(0).text())).groups.push_back(row.at(1).text()); });
    tx.each(
        "SELECT c.person, c.card, c.serial, c.password FROM person_cards c"
        " JOIN people p ON p.id = c.person AND p.since = c.since WHERE " +
            where + " ORDER BY c.person, c.seq",
        params, [&](Row&& row) {
            out.at(index.at(row.at(0).text()))
                .cards.push_back(PersonCard{row.at(1).text(), row.at(2).text(), row.at(3).text()});
        });
    return out;
}

// A kind of value: its table and the columns of its key.
struct Kept {
    const char* what;   // "schedule"
    const char* table;  // "schedules"
    const char* key;    // "name = ?"
};
constexpr Kept kSchedules{"schedule", "schedules", "name = ?"};
constexpr Kept kHolidays{"holiday", "holidays", "site = ? AND day = ?"};
constexpr Kept kGroups{"group", "access_groups", "name = ?"};
constexpr Kept kPeople{"person", "people", "id = ?"};

// The revision that saved the value (0: none saved), locked against other
// writers.
int64_t saved_revision(Tx& tx, const Kept& kept, const std::vector<Value>& key) {
    const auto rows = tx.rows(std::string("SELECT since FROM ") + kept.table + " WHERE " + kept.key +
                                  " AND until IS NULL {for_update}",
                              key);
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

// Ends the saved version of a value, if any, at revision: it is kept for
// the policies of the revisions before.
void end_version(Tx& tx, const Kept& kept, std::vector<Value> key, int64_t revision) {
    key.insert(key.begin(), revision);
    tx.exec(std::string("UPDATE ") + kept.table + " SET until = ? WHERE " + kept.key + " AND until IS NULL",
            key);
}

// A person's cards are free for others from the revision that changes or
// removes the person.
void end_cards(Tx& tx, const std::string& person, int64_t revision) {
    tx.exec("UPDATE person_cards SET until = ? WHERE person = ? AND until IS NULL", {revision, person});
}

// Checks the revision a change was made on and ends the version it changes.
void replace_version(Tx& tx, const Kept& kept, const std::string& what, const std::vector<Value>& key,
                     int64_t madeOn, int64_t revision) {
    check_put(std::string(kept.what) + " " + what, saved_revision(tx, kept, key), madeOn);
    end_version(tx, kept, key, revision);
}

// Removes a value (seen at revision seenAt, 0: whatever is saved).
void remove_version(Tx& tx, const Kept& kept, const std::string& what, const std::vector<Value>& key,
                    int64_t seenAt, int64_t revision) {
    const int64_t saved = saved_revision(tx, kept, key);
    if (saved == 0) throw NotFound(std::string("no ") + kept.what + " " + what);
    if (seenAt != 0) check_put(std::string(kept.what) + " " + what, saved, seenAt);
    end_version(tx, kept, key, revision);
}

void put_schedule(Tx& tx, const AccessSchedule& schedule, int64_t revision) {
    replace_version(tx, kSchedules, schedule.name, {schedule.name}, schedule.revision, revision);
    std::vector<Value> params = {schedule.name, mode_text(schedule.holidays), revision};
    for (const auto& ranges : schedule.days) params.emplace_back(stored_ranges(ranges));
    tx.exec("INSERT INTO schedules (name, holidays, since, " + std::string(kScheduleDayColumns) +
                ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            params);
}

void put_holiday(Tx& tx, const Holiday& holiday, int64_t revision) {
    const std::string day = date_text(holiday.date);
    replace_version(tx, kHolidays, day + " of site " + holiday.site, {holiday.site, day}, holiday.revision,
                    revision);
    tx.exec("INSERT INTO holidays (site, day, yearly, since) VALUES (?, ?, ?, ?)",
            {holiday.site, day, holiday.yearly ? 1 : 0, revision});
}

void put_group(Tx& tx, const Group& group, int64_t revision) {
    replace_version(tx, kGroups, group.name, {group.name}, group.revision, revision);
    tx.exec("INSERT INTO access_groups (name, since) VALUES (?, ?)", {group.name, revision});
    int seq = 0;
    for (const Grant& grant : group.grants) {
        tx.exec(
            "INSERT INTO group_grants (group_name, since, seq, schedule, site, controllers)"
            " VALUES (?, ?, ?, ?, ?, ?)",
            {group.name, revision, seq++, grant.schedule,
             grant.controllers.empty() ? grant.site : std::string(), join_words(grant.controllers)});
    }
}

void put_person(Tx& tx, const Person& person, int64_t revision) {
    replace_version(tx, kPeople, person.id, {person.id}, person.revision, revision);
    end_cards(tx, person.id, revision);
    tx.exec(
        "INSERT INTO people (id, name, email, notes, active, valid_from, valid_until, user_style,"
        " open_style, since) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {person.id, person.name, nullable(person.email), person.notes, person.active ? 1 : 0,
         optional_date(person.validFrom), optional_date(person.validUntil), person.userStyle,
         person.openStyle, revision});
    int seq = 0;
    for (const std::string& group : person.groups) {
        tx.exec("INSERT INTO person_groups (person, since, seq, group_name) VALUES (?, ?, ?, ?)",
                {person.id, revision, seq++, group});
    }
    seq = 0;
    for (const PersonCard& card : person.cards) {
        if (tx.any("SELECT 1 FROM cards WHERE card = ?", {card.card})) {
            throw Refused("card " + card.card + " of person " + person.id +
                          " is a card row: a card number is either a person's or a row's");
        }
        const auto holder =
            tx.rows("SELECT person FROM person_cards WHERE card = ? AND until IS NULL", {card.card});
        if (!holder.empty()) {
            throw Refused("card " + card.card + " of person " + person.id + " is person " +
                          holder.front().at(0).text() + "'s");
        }
        tx.exec(
            "INSERT INTO person_cards (card, person, since, seq, serial, password) VALUES (?, ?, ?, ?, ?, ?)",
            {card.card, person.id, revision, seq++, card.serial, card.password});
    }
}

void remove_person(Tx& tx, const Removal& removal, bool erase, int64_t revision) {
    remove_version(tx, kPeople, removal.name, {removal.name}, removal.revision, revision);
    end_cards(tx, removal.name, revision);
    if (!erase) return;
    // Every version goes, with the personal data it holds; the records of
    // their cards keep the card number, of no one named.
    tx.exec("DELETE FROM person_cards WHERE person = ?", {removal.name});
    tx.exec("DELETE FROM person_groups WHERE person = ?", {removal.name});
    tx.exec("DELETE FROM people WHERE id = ?", {removal.name});
    tx.exec("UPDATE records SET person = NULL, person_erased = 1 WHERE person = ?", {removal.name});
}

PolicyAt read_policy(Tx& tx, const Versions& versions, int64_t revision, CardRowsRead rows) {
    PolicyAt at;
    at.revision = revision;
    at.policy.schedules = read_schedules(tx, versions);
    at.policy.holidays = read_holidays(tx, versions);
    at.policy.groups = read_groups(tx, versions);
    at.policy.people = read_people(tx, versions);
    if (rows == CardRowsRead::all) {
        at.policy.cards = versions.revision ? card_rows_at(tx, *versions.revision) : card_rows(tx);
    }
    return at;
}

int64_t current_revision(Tx& tx) {
    return tx.rows("SELECT revision FROM policy_revision WHERE id = 1").at(0).at(0).integer();
}

}  // namespace

int64_t lock_policy_revision(Tx& tx) {
    return tx.rows("SELECT revision FROM policy_revision WHERE id = 1 {for_update}").at(0).at(0).integer();
}

int64_t next_policy_revision(Tx& tx, int64_t locked) {
    tx.exec("UPDATE policy_revision SET revision = ? WHERE id = 1", {locked + 1});
    return locked + 1;
}

PolicyAt SqlPolicy::policy(CardRowsRead rows) {
    return db_.transaction(false,
                           [&](Tx& tx) { return read_policy(tx, Versions{}, current_revision(tx), rows); });
}

PolicyAt SqlPolicy::policy_at(int64_t revision, CardRowsRead rows) {
    return db_.transaction(false, [&](Tx& tx) {
        if (revision < 0 || revision > current_revision(tx)) {
            throw NotFound("no policy revision " + std::to_string(revision));
        }
        return read_policy(tx, Versions{revision}, revision, rows);
    });
}

int64_t SqlPolicy::policy_revision() {
    return db_.transaction(false, [](Tx& tx) { return current_revision(tx); });
}

std::map<std::string, PersonName> SqlPolicy::card_holders(const std::vector<std::string>& cards) {
    const std::vector<Value> values(cards.begin(), cards.end());
    return db_.transaction(false, [&](Tx& tx) {
        std::map<std::string, PersonName> holders;
        in_batches(values, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
            for (const Row& row : tx.rows("SELECT c.card, p.id, p.name FROM person_cards c"
                                          " JOIN people p ON p.id = c.person AND p.until IS NULL"
                                          " WHERE c.until IS NULL AND c.card IN (" +
                                              placeholders + ")",
                                          part)) {
                holders[row.at(0).text()] = PersonName{row.at(1).text(), row.at(2).text()};
            }
        });
        return holders;
    });
}

std::map<std::string, std::string> SqlPolicy::person_names(const std::vector<std::string>& ids) {
    const std::vector<Value> values(ids.begin(), ids.end());
    return db_.transaction(false, [&](Tx& tx) {
        std::map<std::string, std::string> names;
        in_batches(values, "?", [&](const std::vector<Value>& part, const std::string& placeholders) {
            for (const Row& row :
                 tx.rows("SELECT id, name FROM people WHERE until IS NULL AND id IN (" + placeholders + ")",
                         part)) {
                names[row.at(0).text()] = row.at(1).text();
            }
        });
        return names;
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
        for (const Removal& removal : edit.erasedPeople) remove_person(tx, removal, true, revision);
        for (const Removal& removal : edit.removedPeople) remove_person(tx, removal, false, revision);
        for (const Removal& removal : edit.removedGroups) {
            remove_version(tx, kGroups, removal.name, {removal.name}, removal.revision, revision);
        }
        for (const Removal& removal : edit.removedSchedules) {
            remove_version(tx, kSchedules, removal.name, {removal.name}, removal.revision, revision);
        }
        for (const Holiday& holiday : edit.removedHolidays) {
            const std::string day = date_text(holiday.date);
            remove_version(tx, kHolidays, day + " of site " + holiday.site, {holiday.site, day},
                           holiday.revision, revision);
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
