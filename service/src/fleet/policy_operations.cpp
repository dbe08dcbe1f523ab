// Schedules, holidays and groups.
#include "fleet/policy_operations.h"

#include <algorithm>
#include <map>

#include "fleet/json_forms.h"
#include "fleet/policy_saving.h"
#include "policy/calendar.h"
#include "policy/changes.h"
#include "policy/compile.h"
#include "policy/policy_text.h"
#include "zones/instant_text.h"

namespace doorlinkd {
namespace {

template <typename Value, typename Named>
const Value* find_in(const std::vector<Value>& values, Named named) {
    const auto found = std::find_if(values.begin(), values.end(), named);
    return found == values.end() ? nullptr : &*found;
}

const AccessSchedule* find_schedule_named(const Policy& policy, const std::string& name) {
    return find_in(policy.schedules, [&](const AccessSchedule& s) { return s.name == name; });
}

const Group* find_group(const Policy& policy, const std::string& name) {
    return find_in(policy.groups, [&](const Group& g) { return g.name == name; });
}

CalendarDate date_arg(const std::string& text) {
    std::string reason;
    const auto date = parse_date(text, reason);
    if (!date) throw Refused("date " + text + ": " + reason);
    return *date;
}

const Holiday* find_holiday(const Policy& policy, const std::string& site, const CalendarDate& date) {
    return find_in(policy.holidays, [&](const Holiday& h) { return h.site == site && h.date == date; });
}

// The schedule with what the arguments give set.
AccessSchedule with_args(AccessSchedule schedule, const ScheduleArgs& args) {
    static constexpr std::array<const char*, kDays> kDayNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                                 "thursday", "friday", "saturday"};
    for (size_t day = 0; day < kDays; ++day) {
        const std::optional<std::string>& given = args.days.at(day);
        if (!given) continue;
        std::string reason;
        const auto ranges = parse_ranges(*given, reason);
        if (!ranges)
            throw Refused(
                std::string(kDayNames.at(day)).append(" ").append(*given).append(": ").append(reason));
        schedule.days.at(day) = *ranges;
    }
    if (args.holidays) {
        if (*args.holidays != "closed" && *args.holidays != "open") {
            throw Refused("holidays: closed or open, not " + *args.holidays);
        }
        schedule.holidays = *args.holidays == "open" ? HolidayMode::open : HolidayMode::closed;
    }
    return schedule;
}

Group with_args(Group group, const GroupArgs& args) {
    if (!args.grants) return group;
    group.grants.clear();
    for (const std::string& text : *args.grants) {
        std::string reason;
        const auto grant = parse_grant(text, reason);
        if (!grant) throw Refused(std::string("grant ").append(text).append(": ").append(reason));
        group.grants.push_back(*grant);
    }
    return group;
}

std::string schedule_line(const AccessSchedule& schedule) {
    static constexpr std::array<const char*, kDays> kShort = {"Sun", "Mon", "Tue", "Wed",
                                                              "Thu", "Fri", "Sat"};
    std::string line =
        schedule.name + "  holidays " + (schedule.holidays == HolidayMode::open ? "open" : "closed");
    for (size_t day = 0; day < kDays; ++day) {
        if (!schedule.days.at(day).empty())
            line += std::string("  ") + kShort.at(day) + " " + ranges_text(schedule.days.at(day));
    }
    return line + "  (revision " + std::to_string(schedule.revision) + ")";
}

std::string group_line(const Group& group) {
    const std::vector<std::string> grants = grant_texts(group.grants);
    return group.name + "  " + (grants.empty() ? "(no grants)" : join_words(grants)) + "  (revision " +
           std::to_string(group.revision) + ")";
}

std::string holiday_line(const Holiday& holiday) {
    return holiday.site + "  " + date_text(holiday.date) + (holiday.yearly ? "  yearly" : "") +
           "  (revision " + std::to_string(holiday.revision) + ")";
}

}  // namespace

Outcome schedule_add(Store& store, const ScheduleArgs& args, const Actor& actor) {
    return save_value<AccessSchedule>(
        store, actor, "schedule add", args.name, "added schedule",
        [&](const PolicyAt&) {
            return std::pair(with_args(AccessSchedule{args.name, {}, HolidayMode::closed}, args),
                             static_cast<const AccessSchedule*>(nullptr));
        },
        schedule_line);
}

Outcome schedule_change(Store& store, const ScheduleArgs& args, const Actor& actor) {
    return save_value<AccessSchedule>(
        store, actor, "schedule change", args.name, "schedule",
        [&](const PolicyAt& at) {
            const AccessSchedule* before = find_schedule_named(at.policy, args.name);
            if (before == nullptr) throw NotFound("no schedule " + args.name);
            AccessSchedule schedule = with_args(*before, args);
            schedule.revision = made_on(args.revision, before->revision);
            return std::pair(schedule, before);
        },
        schedule_line);
}

Outcome schedule_list(Store& store) {
    return listed(store.policy().policy.schedules, "schedules", schedule_line);
}

Outcome schedule_remove(Store& store, const std::string& name, std::optional<int64_t> revision,
                        const Actor& actor) {
    save_checked(store, [&](const PolicyAt& at) {
        const AccessSchedule* before = find_schedule_named(at.policy, name);
        if (before == nullptr) throw NotFound("no schedule " + name);
        std::vector<std::string> users;
        for (const Group& group : at.policy.groups) {
            const bool grants = std::any_of(group.grants.begin(), group.grants.end(),
                                            [&](const Grant& grant) { return grant.schedule == name; });
            if (grants) users.push_back(group.name);
        }
        if (!users.empty()) throw Refused("schedule " + name + " is granted by groups " + some_names(users));
        PolicyEdit edit;
        edit.removedSchedules.push_back(Removal{name, made_on(revision, before->revision)});
        edit.audit.push_back(policy_audit(actor, "schedule remove", name, changes_of(before, nullptr)));
        return edit;
    });
    return success(Json{{"removed", name}}, "removed schedule " + name);
}

Outcome holiday_add(Store& store, const HolidayArgs& args, const Actor& actor) {
    const CalendarDate date = date_arg(args.date);
    if (!store.site(args.site)) throw NotFound("no site named " + args.site);
    return save_value<Holiday>(
        store, actor, "holiday add", args.site + " " + date_text(date), "added holiday",
        [&](const PolicyAt&) {
            return std::pair(Holiday{args.site, date, args.yearly.value_or(false), 0},
                             static_cast<const Holiday*>(nullptr));
        },
        holiday_line);
}

Outcome holiday_change(Store& store, const HolidayArgs& args, const Actor& actor) {
    const CalendarDate date = date_arg(args.date);
    return save_value<Holiday>(
        store, actor, "holiday change", args.site + " " + date_text(date), "holiday",
        [&](const PolicyAt& at) {
            const Holiday* before = find_holiday(at.policy, args.site, date);
            if (before == nullptr) throw NotFound("no holiday " + args.date + " of site " + args.site);
            Holiday holiday = *before;
            if (args.yearly) holiday.yearly = *args.yearly;
            holiday.revision = made_on(args.revision, before->revision);
            return std::pair(holiday, before);
        },
        holiday_line);
}

Outcome holiday_list(Store& store, const std::string& site) {
    std::vector<Holiday> holidays = store.policy().policy.holidays;
    if (!site.empty()) {
        holidays.erase(std::remove_if(holidays.begin(), holidays.end(),
                                      [&](const Holiday& holiday) { return holiday.site != site; }),
                       holidays.end());
    }
    return listed(holidays, "holidays", holiday_line);
}

Outcome holiday_remove(Store& store, const HolidayArgs& args, const Actor& actor) {
    const CalendarDate date = date_arg(args.date);
    save_checked(store, [&](const PolicyAt& at) {
        const Holiday* before = find_holiday(at.policy, args.site, date);
        if (before == nullptr) throw NotFound("no holiday " + args.date + " of site " + args.site);
        Holiday gone = *before;
        gone.revision = made_on(args.revision, before->revision);
        PolicyEdit edit;
        edit.removedHolidays.push_back(gone);
        edit.audit.push_back(policy_audit(actor, "holiday remove", args.site + " " + date_text(date),
                                          changes_of(before, nullptr)));
        return edit;
    });
    return success(Json{{"removed", Json{{"site", args.site}, {"date", date_text(date)}}}},
                   "removed holiday " + date_text(date) + " of site " + args.site);
}

Outcome group_add(Store& store, const GroupArgs& args, const Actor& actor) {
    return save_value<Group>(
        store, actor, "group add", args.name, "added group",
        [&](const PolicyAt&) {
            return std::pair(with_args(Group{args.name, {}, 0}, args), static_cast<const Group*>(nullptr));
        },
        group_line);
}

Outcome group_change(Store& store, const GroupArgs& args, const Actor& actor) {
    return save_value<Group>(
        store, actor, "group change", args.name, "group",
        [&](const PolicyAt& at) {
            const Group* before = find_group(at.policy, args.name);
            if (before == nullptr) throw NotFound("no group " + args.name);
            Group group = with_args(*before, args);
            group.revision = made_on(args.revision, before->revision);
            return std::pair(group, before);
        },
        group_line);
}

Outcome group_list(Store& store) { return listed(store.policy().policy.groups, "groups", group_line); }

Outcome group_remove(Store& store, const std::string& name, std::optional<int64_t> revision,
                     const Actor& actor) {
    save_checked(store, [&](const PolicyAt& at) {
        const Group* before = find_group(at.policy, name);
        if (before == nullptr) throw NotFound("no group " + name);
        std::vector<std::string> members;
        for (const Person& person : at.policy.people) {
            if (std::find(person.groups.begin(), person.groups.end(), name) != person.groups.end())
                members.push_back(person.id);
        }
        if (!members.empty()) throw Refused("group " + name + " still has people: " + some_names(members));
        PolicyEdit edit;
        edit.removedGroups.push_back(Removal{name, made_on(revision, before->revision)});
        edit.audit.push_back(policy_audit(actor, "group remove", name, changes_of(before, nullptr)));
        return edit;
    });
    return success(Json{{"removed", name}}, "removed group " + name);
}

Outcome policy_revisions(Store& store) {
    // The applied revisions first: a save between the two reads shows as
    // behind, never the other way round.
    const std::map<std::string, int64_t> applied = store.applied_revisions();
    const int64_t revision = store.policy_revision();
    Json behind = Json::array();
    for (const auto& [controller, sent] : applied) {
        if (sent < revision) behind.push_back(controller);
    }
    return success(Json{{"revision", revision}, {"applied", applied}, {"behind", behind}},
                   "policy revision " + std::to_string(revision) + "; " + std::to_string(behind.size()) +
                       " of " + std::to_string(applied.size()) + " controllers are sent an older one");
}

Outcome policy_compile(Store& store, const std::string& controller, int64_t atMs) {
    const std::optional<Controller> target = store.controller(controller);
    if (!target) throw NotFound("no controller named " + controller);
    const PolicyAt at = store.policy();
    Outcome outcome;
    Json cards = Json::array();
    for (const Card& card : compile_cards(at.policy, *target, atMs)) {
        cards.push_back(to_json(card, PinView::Hidden));
        std::string days;
        for (const std::string& day : card.days) days += " " + (day.empty() ? std::string("-") : day);
        outcome.lines.push_back(card.card + days);
    }
    outcome.json = Json{{"controller", controller}, {"site", target->site},    {"zone", target->zone},
                        {"at", iso_instant(atMs)},  {"revision", at.revision}, {"cards", cards}};
    outcome.lines.insert(outcome.lines.begin(), controller + " at " + iso_instant(atMs) + " (" +
                                                    target->zone + "), policy revision " +
                                                    std::to_string(at.revision) + ": " +
                                                    std::to_string(cards.size()) + " cards");
    return outcome;
}

}  // namespace doorlinkd
