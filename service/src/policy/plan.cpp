#include "policy/plan.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "cards/card_csv.h"
#include "policy/calendar.h"
#include "policy/compile.h"
#include "policy/grants.h"
#include "policy/policy_text.h"

namespace doorlinkd {
namespace {

// A policy at one moment, as the controller reads it, with its people and
// card rows found by what a change names them by.
struct PlanSide {
    const Policy* policy = nullptr;
    LocalDay today;
    bool holiday = false;
    std::unordered_map<std::string, const Person*> people;                // by id
    std::unordered_map<std::string, std::vector<const Person*>> holders;  // people by card number
    std::unordered_map<std::string, const Card*> rows;                    // card rows by card number
};

PlanSide plan_side(const Policy& policy, int64_t atMs, const Controller& controller) {
    PlanSide side;
    side.policy = &policy;
    side.today = local_day(atMs, controller.zone);
    side.holiday = is_holiday(policy.holidays, controller.site, side.today.date);
    for (const Person& person : policy.people) {
        side.people.emplace(person.id, &person);
        for (const PersonCard& card : person.cards) side.holders[card.card].push_back(&person);
    }
    for (const Card& row : policy.cards) side.rows.emplace(row.card, &row);
    return side;
}

template <typename Value>
const Value* found_or_null(const std::unordered_map<std::string, const Value*>& values,
                           const std::string& key) {
    const auto found = values.find(key);
    return found == values.end() ? nullptr : found->second;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool holds_card(const Person& person, const std::string& card) {
    return std::any_of(person.cards.begin(), person.cards.end(),
                       [&](const PersonCard& held) { return held.card == card; });
}

// Whether the person's cards go to the controller on that side, as
// compile_cards decides it (a card number of two holders aside).
bool goes_out(const PlanSide& side, const Person& person, const Controller& controller) {
    return person.active && is_valid_on(person, side.today.date) &&
           is_granted(*side.policy, person, controller);
}

// Whose a card number is on one side: a person's, a card row's, or no one's.
struct CardHolder {
    const Person* person = nullptr;
    const Card* row = nullptr;
};

// The holder of the record the controller holds (compiled), or else of the
// card number in the policy.
CardHolder holder_of(const PlanSide& side, const Controller& controller, const std::string& card,
                     bool compiled) {
    const auto people = side.holders.find(card);
    if (people != side.holders.end()) {
        for (const Person* person : people->second) {
            if (!compiled || goes_out(side, *person, controller)) return {person, nullptr};
        }
    }
    const Card* row = found_or_null(side.rows, card);
    if (row != nullptr && (!compiled || goes_to(*row, controller.name))) return {nullptr, row};
    return {};
}

std::string person_label(const Person& person) {
    return person.name.empty() ? person.id : person.id + " " + person.name;
}

std::string or_none(const std::string& text) { return text.empty() ? "(none)" : text; }

const char* holiday_mode_text(HolidayMode mode) { return mode == HolidayMode::open ? "open" : "closed"; }

// The texts of the group's grants on the controller; none for a group the
// policy does not have.
std::set<std::string> grants_through(const Policy& policy, const std::string& groupName,
                                     const Controller& controller) {
    std::set<std::string> texts;
    const auto group = std::find_if(policy.groups.begin(), policy.groups.end(),
                                    [&](const Group& candidate) { return candidate.name == groupName; });
    if (group == policy.groups.end()) return texts;
    for (const Grant& grant : group->grants) {
        if (grants_on(grant, controller)) texts.insert(grant_text(grant));
    }
    return texts;
}

// Whether a holiday takes ranges away on weekday: a closed schedule among
// them has some that day.
bool closes_on_holiday(const std::vector<const AccessSchedule*>& schedules, int weekday) {
    return std::any_of(schedules.begin(), schedules.end(), [&](const AccessSchedule* schedule) {
        return schedule->holidays == HolidayMode::closed &&
               !schedule->days.at(static_cast<size_t>(weekday)).empty();
    });
}

std::vector<std::string> changed_fields(const Card& before, const Card& after) {
    const CardFields was = fields_of(before);
    const CardFields is = fields_of(after);
    std::vector<std::string> fields;
    for (size_t column = 0; column < kCardColumns.size(); ++column) {
        if (was.at(column) != is.at(column)) fields.emplace_back(kCardColumns.at(column));
    }
    return fields;
}

// The reasons of one card's change on the controller, gathered from each
// holder the card number has on either side, each reason once.
class ChangeReasons {
public:
    ChangeReasons(const PlanSide& before, const PlanSide& after, const Controller& controller,
                  const Card* oldRecord, const Card* newRecord)
        : before_(before),
          after_(after),
          controller_(controller),
          oldRecord_(oldRecord),
          newRecord_(newRecord),
          card_((oldRecord != nullptr ? oldRecord : newRecord)->card),
          beforeHolder_(holder_of(before, controller, card_, oldRecord != nullptr)),
          afterHolder_(holder_of(after, controller, card_, newRecord != nullptr)) {}

    // The person whose card it is: the later holder, else the earlier one.
    const Person* holder() const {
        if (afterHolder_.person != nullptr) return afterHolder_.person;
        if (afterHolder_.row == nullptr) return beforeHolder_.person;
        return nullptr;
    }

    std::vector<std::string> gather() {
        const Person* earlier = beforeHolder_.person;
        const Person* later = afterHolder_.person;
        if (earlier != nullptr) person(earlier->id);
        if (later != nullptr && (earlier == nullptr || earlier->id != later->id)) person(later->id);
        if (beforeHolder_.row != nullptr || afterHolder_.row != nullptr) row();
        if (reasons_.empty()) reasons_.emplace_back("policy changed");
        return std::move(reasons_);
    }

private:
    void add(std::string reason) {
        if (!contains(reasons_, reason)) reasons_.push_back(std::move(reason));
    }

    void person(const std::string& id) {
        const Person* was = found_or_null(before_.people, id);
        const Person* is = found_or_null(after_.people, id);
        const std::string who = person_label(is != nullptr ? *is : *was) + ": ";
        if (was == nullptr || is == nullptr) {
            add(who + (was == nullptr ? "added" : "removed"));
            return;
        }
        const bool heldBefore = oldRecord_ != nullptr && beforeHolder_.person == was;
        const bool heldAfter = newRecord_ != nullptr && afterHolder_.person == is;
        if (heldBefore && heldAfter) {
            record_change(*was, *is);
        } else if (heldBefore != heldAfter) {
            held_on_one_side(*was, *is, heldAfter);
        } else if (holds_card(*was, card_) != holds_card(*is, card_)) {
            add(who + card_moved(holds_card(*is, card_)));
        }
    }

    std::string card_moved(bool added) const { return "card " + card_ + (added ? " added" : " removed"); }

    // The record is the person's on one side only: each condition of
    // compile_cards that fails on the other side.
    void held_on_one_side(const Person& was, const Person& is, bool gained) {
        const Person& off = gained ? was : is;
        const PlanSide& side = gained ? before_ : after_;
        const std::string who = person_label(is) + ": ";
        const bool hasCard = holds_card(off, card_);
        const bool valid = is_valid_on(off, side.today.date);
        const bool granted = is_granted(*side.policy, off, controller_);
        if (!hasCard) add(who + card_moved(gained));
        if (!off.active) add(who + (gained ? "enabled" : "disabled"));
        if (!valid) add(who + validity(was, is, off, side.today.date));
        if (!granted) grants(was, is);
        if (hasCard && off.active && valid && granted) add(shared_card(gained));
    }

    // The bound of off's validity that date is outside of, and its change.
    static std::string validity(const Person& was, const Person& is, const Person& off,
                                const CalendarDate& date) {
        const bool early = off.validFrom && date < *off.validFrom;
        const std::string bound = early ? "valid from " : "valid until ";
        const std::optional<CalendarDate>& then = early ? was.validFrom : was.validUntil;
        const std::optional<CalendarDate>& now = early ? is.validFrom : is.validUntil;
        if (now && then == now) return bound + date_text(*now);
        return bound + or_none(optional_date_text(then)) + " -> " + or_none(optional_date_text(now));
    }

    // A card number two holders give the controller goes to neither.
    std::string shared_card(bool resolved) const {
        return "card " + card_ + (resolved ? " had" : " has") + " more than one holder";
    }

    // The person's groups and their grants on the controller, as they changed.
    void grants(const Person& was, const Person& is) {
        std::set<std::string> groups(was.groups.begin(), was.groups.end());
        groups.insert(is.groups.begin(), is.groups.end());
        for (const std::string& group : groups) group_change(was, is, group);
    }

    // A group the person joined or left that grants anything here, or the
    // grants here of a group the person is in on both sides.
    void group_change(const Person& was, const Person& is, const std::string& group) {
        const bool wasMember = contains(was.groups, group);
        const bool isMember = contains(is.groups, group);
        const std::set<std::string> then =
            wasMember ? grants_through(*before_.policy, group, controller_) : std::set<std::string>{};
        const std::set<std::string> now =
            isMember ? grants_through(*after_.policy, group, controller_) : std::set<std::string>{};
        if (wasMember != isMember) {
            if (!then.empty() || !now.empty())
                add(person_label(is) + ": group " + group + (isMember ? " added" : " removed"));
            return;
        }
        for (const std::string& grant : now) {
            if (then.count(grant) == 0) add(grant_change(group, grant, "added"));
        }
        for (const std::string& grant : then) {
            if (now.count(grant) == 0) add(grant_change(group, grant, "removed"));
        }
    }

    static std::string grant_change(const std::string& group, const std::string& grant, const char* how) {
        return "group " + group + ": grant " + grant + " " + how;
    }

    void record_change(const Person& was, const Person& is) {
        const std::string who = person_label(is) + ": ";
        if (oldRecord_->serial != newRecord_->serial) add(who + "card " + card_ + " serial changed");
        if (oldRecord_->password != newRecord_->password) add(who + "card " + card_ + " PIN changed");
        if (oldRecord_->userStyle != newRecord_->userStyle) {
            add(who + "user style " + std::to_string(oldRecord_->userStyle) + " -> " +
                std::to_string(newRecord_->userStyle));
        }
        if (oldRecord_->openStyle != newRecord_->openStyle) {
            add(who + "open style " + std::to_string(oldRecord_->openStyle) + " -> " +
                std::to_string(newRecord_->openStyle));
        }
        if (oldRecord_->days != newRecord_->days) days(was, is);
    }

    bool day_changed(int weekday) const {
        const auto day = static_cast<size_t>(weekday);
        return oldRecord_->days.at(day) != newRecord_->days.at(day);
    }

    // Whether the side's date is a holiday and its weekday's column differs.
    bool holiday_changes_day(const PlanSide& side) const {
        return side.holiday && day_changed(side.today.weekday);
    }

    // Why the day columns differ: grants, the granted schedules' ranges and
    // holiday modes, and the holidays of the two dates.
    void days(const Person& was, const Person& is) {
        grants(was, is);
        const auto then = granted_schedules(*before_.policy, was, controller_);
        const auto now = granted_schedules(*after_.policy, is, controller_);
        for (const AccessSchedule* schedule : now) {
            const auto old = std::find_if(then.begin(), then.end(), [&](const AccessSchedule* candidate) {
                return candidate->name == schedule->name;
            });
            if (old != then.end()) schedule_change(**old, *schedule);
        }
        holidays(then, now);
    }

    void schedule_change(const AccessSchedule& then, const AccessSchedule& now) {
        const std::string what = "schedule " + now.name + ": ";
        for (int weekday = 0; weekday < kDays; ++weekday) {
            const auto day = static_cast<size_t>(weekday);
            if (then.days.at(day) == now.days.at(day) || !day_changed(weekday)) continue;
            add(what + day_name(weekday) + " " + or_none(ranges_text(then.days.at(day))) + " -> " +
                or_none(ranges_text(now.days.at(day))));
        }
        if (then.holidays != now.holidays && (holiday_changes_day(before_) || holiday_changes_day(after_))) {
            add(what + "holidays " + holiday_mode_text(then.holidays) + " -> " +
                holiday_mode_text(now.holidays));
        }
    }

    // A holiday on one date and not the other (or added to or removed from
    // the policy on the same date) that takes ranges away on its weekday.
    void holidays(const std::vector<const AccessSchedule*>& then,
                  const std::vector<const AccessSchedule*>& now) {
        const bool sameDate = before_.today.date == after_.today.date;
        const auto bears = [&](const PlanSide& side, const std::vector<const AccessSchedule*>& schedules) {
            return holiday_changes_day(side) && closes_on_holiday(schedules, side.today.weekday);
        };
        const std::string site = "site " + controller_.site + ": holiday ";
        if (bears(before_, then) && !(sameDate && after_.holiday))
            add(site + date_text(before_.today.date) + (sameDate ? " removed" : ""));
        if (bears(after_, now) && !(sameDate && before_.holiday))
            add(site + date_text(after_.today.date) + (sameDate ? " added" : ""));
    }

    void row() {
        const Card* was = found_or_null(before_.rows, card_);
        const Card* is = found_or_null(after_.rows, card_);
        const bool heldBefore = oldRecord_ != nullptr && beforeHolder_.row != nullptr;
        const bool heldAfter = newRecord_ != nullptr && afterHolder_.row != nullptr;
        if (was == nullptr || is == nullptr) {
            add(std::string("card row ") + (was == nullptr ? "added" : "removed"));
        } else if (*was != *is) {
            add("card row changed");
        } else if (heldBefore != heldAfter) {
            add(shared_card(heldAfter));
        }
    }

    const PlanSide& before_;
    const PlanSide& after_;
    const Controller& controller_;
    const Card* oldRecord_;
    const Card* newRecord_;
    std::string card_;
    CardHolder beforeHolder_;
    CardHolder afterHolder_;
    std::vector<std::string> reasons_;
};

}  // namespace

std::vector<CardChange> plan_controller(const Policy& before, int64_t beforeAtMs, const Policy& after,
                                        int64_t afterAtMs, const Controller& controller) {
    const PlanSide was = plan_side(before, beforeAtMs, controller);
    const PlanSide is = plan_side(after, afterAtMs, controller);
    const std::vector<Card> oldRecords = compile_cards(before, controller, beforeAtMs);
    const std::vector<Card> newRecords = compile_cards(after, controller, afterAtMs);
    std::map<std::string, std::pair<const Card*, const Card*>> byCard;
    for (const Card& record : oldRecords) byCard[record.card].first = &record;
    for (const Card& record : newRecords) byCard[record.card].second = &record;

    std::vector<CardChange> changes;
    for (const auto& [card, records] : byCard) {
        const Card* oldRecord = records.first;
        const Card* newRecord = records.second;
        if (oldRecord != nullptr && newRecord != nullptr && *oldRecord == *newRecord) continue;
        ChangeReasons reasons(was, is, controller, oldRecord, newRecord);
        CardChange change;
        change.card = card;
        if (const Person* holder = reasons.holder()) {
            change.person = holder->id;
            change.personName = holder->name;
        }
        if (oldRecord == nullptr) {
            change.kind = CardChange::Kind::added;
        } else if (newRecord == nullptr) {
            change.kind = CardChange::Kind::removed;
        } else {
            change.fields = changed_fields(*oldRecord, *newRecord);
        }
        change.reasons = reasons.gather();
        changes.push_back(std::move(change));
    }
    return changes;
}

}  // namespace doorlinkd
