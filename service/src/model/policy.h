// What a site keeps about who may open which door when: schedules,
// holidays, groups that grant schedules on sites or controllers, and the
// people in those groups with their cards. The card rows of model/card.h
// stand beside people, for cards that belong to no one in particular.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "model/access.h"
#include "model/card.h"

namespace doorlinkd {

constexpr int kMinutesPerDay = 24 * 60;

// A calendar date as people write it, without a zone: each controller reads
// it in its own site's zone.
struct CalendarDate {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31

    bool operator<(const CalendarDate& other) const {
        return std::tie(year, month, day) < std::tie(other.year, other.month, other.day);
    }
    bool operator==(const CalendarDate& other) const {
        return year == other.year && month == other.month && day == other.day;
    }
    bool operator!=(const CalendarDate& other) const { return !(*this == other); }
    bool operator<=(const CalendarDate& other) const { return !(other < *this); }
};

// "yyyy-mm-dd", as people write a date and the database keeps it.
std::string date_text(const CalendarDate& date);

// Minutes since midnight: from is in the range, to is not. to may be
// kMinutesPerDay (24:00), the end of the day.
struct TimeRange {
    int from = 0;
    int to = 0;

    bool operator==(const TimeRange& other) const { return from == other.from && to == other.to; }
};

// What a schedule does on a holiday of the controller's site.
enum class HolidayMode {
    closed,  // none of its ranges on that date
    open,    // its ranges as on any other day
};

struct AccessSchedule {
    std::string name;
    std::array<std::vector<TimeRange>, kDays> days;  // Sunday first, at most 8 ranges a day
    HolidayMode holidays = HolidayMode::closed;
    // The policy revision of its last saved change; 0 for one not saved yet.
    // A change names the revision it was made on, and is refused when the
    // one saved is another.
    int64_t revision = 0;
};

// The schedules every policy has without keeping them.
constexpr const char* kAlwaysSchedule = "always";  // 00:00-24:00 every day, holidays too
constexpr const char* kNeverSchedule = "never";    // nothing

struct Holiday {
    std::string site;
    CalendarDate date;
    bool yearly = false;  // on that month and day of every year
    // The policy revision of its last saved change; 0 for one not saved yet.
    // A change names the revision it was made on, and is refused when the
    // one saved is another.
    int64_t revision = 0;
};

// A schedule on every controller of a site, or on the controllers named.
struct Grant {
    std::string schedule;
    std::string site;                      // when no controller is named
    std::vector<std::string> controllers;  // when not empty, these alone (site is not read)
};

struct Group {
    std::string name;
    std::vector<Grant> grants;
    // The policy revision of its last saved change; 0 for one not saved yet.
    // A change names the revision it was made on, and is refused when the
    // one saved is another.
    int64_t revision = 0;
};

struct PersonCard {
    std::string card;      // 8 digits, as Card::card
    std::string serial;    // 6 digits
    std::string password;  // the PIN, 6 digits
};

struct Person {
    std::string id;  // the site's own (an employee number)
    std::string name;
    std::optional<std::string> email;
    std::string notes;
    bool active = true;
    // Inclusive, each read in the zone of the controller's site.
    std::optional<CalendarDate> validFrom;
    std::optional<CalendarDate> validUntil;
    std::vector<std::string> groups;
    std::vector<PersonCard> cards;
    int userStyle = 1;  // as Card::userStyle
    int openStyle = 2;  // as Card::openStyle
    // The policy revision of its last saved change; 0 for one not saved yet.
    // A change names the revision it was made on, and is refused when the
    // one saved is another.
    int64_t revision = 0;
};

struct Policy {
    std::vector<AccessSchedule> schedules;  // besides always and never
    std::vector<Holiday> holidays;
    std::vector<Group> groups;
    std::vector<Person> people;
    std::vector<Card> cards;  // the rows kept beside people, as they go to controllers
};

enum class PolicyProblemKind {
    invalidValue,      // a field out of its range or form
    unknownName,       // a schedule or group named that the policy does not have
    duplicateName,     // two schedules, groups or people of one name or id
    tooManyRanges,     // more than 8 ranges for one day on one controller
    tooManyCards,      // more cards than a controller holds
    cardOfTwoHolders,  // one card number of two people, or of a person and a row
};

// What keeps a policy from being saved. The fields that do not apply are
// empty (day: -1).
struct PolicyProblem {
    PolicyProblemKind kind = PolicyProblemKind::invalidValue;
    std::string person;      // a person's id
    std::string controller;  // a controller's name
    int day = -1;            // 0 (Sunday) to 6
    std::string card;
    std::string field;    // the person's field it is about, named as the people file's column
    std::string message;  // the whole problem, for people
};

// A value removed, by the revision it was seen at (0: whatever is saved).
struct Removal {
    std::string name;  // a schedule's or group's name, a person's id
    int64_t revision = 0;
};

// What one save changes. A value given is added when its revision is 0 and
// replaces the saved one of its name otherwise; the revision is the one the
// change was made on.
struct PolicyEdit {
    // The policy revision that the whole changed policy was checked on.
    int64_t basedOn = 0;
    std::vector<AccessSchedule> schedules;
    std::vector<Removal> removedSchedules;
    std::vector<Holiday> holidays;
    std::vector<Holiday> removedHolidays;  // by site and date
    std::vector<Group> groups;
    std::vector<Removal> removedGroups;
    std::vector<Person> people;
    std::vector<Removal> removedPeople;
    // Removed with their personal data: their records keep the card number,
    // marked as of an erased person.
    std::vector<Removal> erasedPeople;
    // Written with the change: who made it and what changed.
    std::vector<AuditEntry> audit;
};

}  // namespace doorlinkd
