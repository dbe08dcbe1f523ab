#include "policy/problems.h"

#include <algorithm>
#include <map>
#include <set>

#include "cards/card_csv.h"
#include "cards/card_rules.h"
#include "cards/day_text.h"
#include "policy/calendar.h"
#include "policy/compile.h"
#include "policy/grants.h"
#include "policy/person_fields.h"
#include "policy/policy_text.h"

namespace doorlinkd {
namespace {

PolicyProblem invalid(std::string message) {
    PolicyProblem problem;
    problem.message = std::move(message);
    return problem;
}

bool is_six_digits(const std::string& text) { return text.size() == 6 && all_digits(text); }

void check_schedules(const Policy& policy, std::vector<PolicyProblem>& problems) {
    std::set<std::string> names;
    for (const AccessSchedule& schedule : policy.schedules) {
        const std::string what = "schedule " + schedule.name;
        if (!is_written_name(schedule.name) || schedule.name == kAlwaysSchedule ||
            schedule.name == kNeverSchedule || !names.insert(schedule.name).second) {
            PolicyProblem problem = invalid(what +
                                            ": the name is not 1 to 64 bytes of UTF-8 without white space "
                                            "and '@', or is built in or taken");
            problem.kind = PolicyProblemKind::duplicateName;
            problems.push_back(problem);
        }
        for (int weekday = 0; weekday < kDays; ++weekday) {
            const auto& ranges = schedule.days.at(static_cast<size_t>(weekday));
            if (ranges.size() > static_cast<size_t>(kMaxRangesPerDay)) {
                problems.push_back(invalid(what + ": more than 8 ranges on " + day_name(weekday)));
            }
            for (const TimeRange& range : ranges) {
                if (range.from < 0 || range.from >= range.to || range.to > kMinutesPerDay) {
                    problems.push_back(invalid(what + ": a range on " + day_name(weekday) +
                                               " does not start before it ends within the day"));
                }
            }
        }
    }
}

void check_holidays(const Policy& policy, std::vector<PolicyProblem>& problems) {
    for (const Holiday& holiday : policy.holidays) {
        if (!is_calendar_date(holiday.date)) {
            problems.push_back(invalid("a holiday of site " + holiday.site + " is no date of the calendar"));
        }
    }
}

void check_groups(const Policy& policy, std::vector<PolicyProblem>& problems) {
    std::set<std::string> names;
    for (const Group& group : policy.groups) {
        if (!is_written_name(group.name) || !names.insert(group.name).second) {
            PolicyProblem problem =
                invalid("group " + group.name +
                        ": the name is not 1 to 64 bytes of UTF-8 without white space and '@', or is taken");
            problem.kind = PolicyProblemKind::duplicateName;
            problems.push_back(problem);
        }
        for (const Grant& grant : group.grants) {
            if (find_schedule(policy, grant.schedule) == nullptr) {
                PolicyProblem problem = invalid("group " + group.name + " grants schedule " + grant.schedule +
                                                ", which the policy does not have");
                problem.kind = PolicyProblemKind::unknownName;
                problems.push_back(problem);
            }
            if (grant.controllers.empty() && grant.site.empty()) {
                problems.push_back(invalid("group " + group.name + " grants schedule " + grant.schedule +
                                           " on neither a site nor a controller"));
            }
        }
    }
}

void check_person(const Policy& policy, const Person& person, std::vector<PolicyProblem>& problems) {
    auto add = [&](PolicyProblemKind kind, const std::string& field, const std::string& what) {
        PolicyProblem problem = invalid("person " + person.id + ": " + what);
        problem.kind = kind;
        problem.person = person.id;
        problem.field = field;
        problems.push_back(problem);
    };
    auto check_field = [&](PersonField field, const std::string& value) {
        const std::string problem = person_field_problem(field, value);
        if (!problem.empty()) add(PolicyProblemKind::invalidValue, person_field_name(field), problem);
    };
    check_field(PersonField::id, person.id);
    check_field(PersonField::name, person.name);
    if (person.email) check_field(PersonField::email, *person.email);
    check_field(PersonField::notes, person.notes);
    if (person.userStyle < 0 || person.userStyle > 1)
        add(PolicyProblemKind::invalidValue, "user_style", "user style is not 0 or 1");
    if (person.openStyle < 0 || person.openStyle > 2) {
        add(PolicyProblemKind::invalidValue, "open_style", "open style is not 0, 1 or 2");
    }
    const bool fromIsDate = !person.validFrom || is_calendar_date(*person.validFrom);
    const bool untilIsDate = !person.validUntil || is_calendar_date(*person.validUntil);
    if (!fromIsDate || !untilIsDate) {
        add(PolicyProblemKind::invalidValue, fromIsDate ? "valid_until" : "valid_from",
            "a validity date is no date of the calendar");
    } else if (person.validFrom && person.validUntil && *person.validUntil < *person.validFrom) {
        add(PolicyProblemKind::invalidValue, "valid_until",
            "valid until " + date_text(*person.validUntil) + " is before valid from " +
                date_text(*person.validFrom));
    }
    for (const std::string& group : person.groups) {
        const bool known = std::any_of(policy.groups.begin(), policy.groups.end(),
                                       [&](const Group& other) { return other.name == group; });
        if (!known)
            add(PolicyProblemKind::unknownName, "groups", "group " + group + " is not one of the policy's");
    }
    for (const PersonCard& card : person.cards) {
        const std::string cardProblem = card_text_problem(card.card);
        if (!cardProblem.empty()) add(PolicyProblemKind::invalidValue, "cards", cardProblem);
        if (!is_six_digits(card.serial) || !is_six_digits(card.password)) {
            add(PolicyProblemKind::invalidValue, "cards",
                "card " + card.card + ": the serial and the PIN are 6 digits each");
        }
    }
}

void check_people(const Policy& policy, std::vector<PolicyProblem>& problems) {
    std::set<std::string> ids;
    for (const Person& person : policy.people) {
        // An empty id is refused by check_person.
        if (!person.id.empty() && !ids.insert(person.id).second) {
            PolicyProblem problem = invalid("person " + person.id + ": the id is taken");
            problem.kind = PolicyProblemKind::duplicateName;
            problem.person = person.id;
            problems.push_back(problem);
        }
        check_person(policy, person, problems);
    }
}

// Card numbers held by more than one person, or by a person and a row.
void check_card_holders(const Policy& policy, std::vector<PolicyProblem>& problems) {
    std::map<std::string, std::vector<std::string>> holders;
    for (const Person& person : policy.people) {
        for (const PersonCard& card : person.cards) holders[card.card].push_back("person " + person.id);
    }
    for (const Card& row : policy.cards) holders[row.card].push_back("a card row");
    for (const auto& [card, names] : holders) {
        if (names.size() < 2) continue;
        std::string message = "card " + card + " is held by";
        for (size_t i = 0; i < names.size(); ++i) message += (i == 0 ? " " : " and ") + names[i];
        PolicyProblem problem = invalid(message);
        problem.kind = PolicyProblemKind::cardOfTwoHolders;
        problem.card = card;
        problems.push_back(problem);
    }
}

// The days of each person granted on the controller, whatever the holidays,
// and the cards it would hold on the worst day from atMs on.
void check_controller(const Policy& policy, const Controller& controller, int64_t atMs,
                      std::vector<PolicyProblem>& problems) {
    const CalendarDate today = local_day(atMs, controller.zone).date;
    size_t cards = 0;
    for (const Person& person : policy.people) {
        const std::vector<const AccessSchedule*> schedules = granted_schedules(policy, person, controller);
        if (schedules.empty()) continue;
        for (int weekday = 0; weekday < kDays; ++weekday) {
            if (merged_ranges(schedules, weekday, false).size() <= static_cast<size_t>(kMaxRangesPerDay))
                continue;
            PolicyProblem problem = invalid("person " + person.id + " has more than 8 ranges on " +
                                            day_name(weekday) + " on controller " + controller.name);
            problem.kind = PolicyProblemKind::tooManyRanges;
            problem.person = person.id;
            problem.controller = controller.name;
            problem.day = weekday;
            problems.push_back(problem);
        }
        if (person.active && !has_ended(person, today)) cards += person.cards.size();
    }
    cards +=
        static_cast<size_t>(std::count_if(policy.cards.begin(), policy.cards.end(),
                                          [&](const Card& row) { return goes_to(row, controller.name); }));
    if (cards > static_cast<size_t>(kMaxCardsPerController)) {
        PolicyProblem problem =
            invalid("controller " + controller.name + " would hold " + std::to_string(cards) +
                    " cards, more than " + std::to_string(kMaxCardsPerController));
        problem.kind = PolicyProblemKind::tooManyCards;
        problem.controller = controller.name;
        problems.push_back(problem);
    }
}

}  // namespace

std::vector<PolicyProblem> policy_problems(const Policy& policy, const std::vector<Controller>& controllers,
                                           int64_t atMs) {
    std::vector<PolicyProblem> problems;
    check_schedules(policy, problems);
    check_holidays(policy, problems);
    check_groups(policy, problems);
    check_people(policy, problems);
    check_card_holders(policy, problems);
    for (const Controller& controller : controllers) check_controller(policy, controller, atMs, problems);
    return problems;
}

}  // namespace doorlinkd
