// People: added, changed, removed and erased one by one, and the people file.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "common/atomic_file.h"
#include "fleet/json_forms.h"
#include "fleet/policy_operations.h"
#include "fleet/policy_saving.h"
#include "policy/calendar.h"
#include "policy/changes.h"
#include "policy/people_csv.h"
#include "policy/policy_text.h"

namespace doorlinkd {
namespace {

const Person* find_person(const Policy& policy, const std::string& id) {
    const auto found =
        std::find_if(policy.people.begin(), policy.people.end(), [&](const Person& p) { return p.id == id; });
    return found == policy.people.end() ? nullptr : &*found;
}

std::optional<CalendarDate> optional_date_arg(const char* what, const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::string reason;
    const auto date = parse_date(text, reason);
    if (!date) throw Refused(std::string(what) + " " + text + ": " + reason);
    return date;
}

// The cards given, each without a PIN keeping the one it has among held.
std::vector<PersonCard> cards_keeping_pins(const std::vector<PersonCard>& held,
                                           const std::vector<PersonCardArgs>& given) {
    std::vector<PersonCard> cards;
    for (const PersonCardArgs& card : given) {
        std::string pin;
        if (card.pin) {
            pin = *card.pin;
        } else {
            const auto kept = std::find_if(held.begin(), held.end(),
                                           [&](const PersonCard& h) { return h.card == card.card; });
            if (kept == held.end()) throw Refused("card " + card.card + ": a new card needs its PIN");
            pin = kept->password;
        }
        cards.push_back(PersonCard{card.card, card.serial, pin});
    }
    return cards;
}

// The person with what the arguments give set.
Person with_args(Person person, const PersonArgs& args) {
    if (args.name) person.name = *args.name;
    if (args.email) person.email = args.email->empty() ? std::nullopt : args.email;
    if (args.notes) person.notes = *args.notes;
    if (args.active) person.active = *args.active;
    if (args.validFrom) person.validFrom = optional_date_arg("valid from", *args.validFrom);
    if (args.validUntil) person.validUntil = optional_date_arg("valid until", *args.validUntil);
    if (args.groups) person.groups = split_words(*args.groups);
    if (args.cards) {
        std::string reason;
        const auto cards = parse_person_cards(*args.cards, reason);
        if (!cards) throw Refused("cards: " + reason);
        person.cards = *cards;
    }
    if (args.cardList) person.cards = cards_keeping_pins(person.cards, *args.cardList);
    if (args.userStyle) person.userStyle = *args.userStyle;
    if (args.openStyle) person.openStyle = *args.openStyle;
    return person;
}

std::string person_line(const Person& person) {
    std::string line = person.id + "  " + person.name;
    if (!person.active) line += "  (inactive)";
    if (person.validFrom) line += "  from " + date_text(*person.validFrom);
    if (person.validUntil) line += "  until " + date_text(*person.validUntil);
    line += "  groups " + (person.groups.empty() ? std::string("(none)") : join_words(person.groups));
    std::vector<std::string> cards;
    cards.reserve(person.cards.size());
    for (const PersonCard& card : person.cards) cards.push_back(card.card);
    line += "  cards " + (cards.empty() ? std::string("(none)") : join_words(cards));
    return line + "  (revision " + std::to_string(person.revision) + ")";
}

// Removes or erases a person.
void person_leaves(Store& store, const std::string& id, std::optional<int64_t> revision, const Actor& actor,
                   bool erase) {
    save_checked(store, [&](const PolicyAt& at) {
        const Person* before = find_person(at.policy, id);
        if (before == nullptr) throw NotFound("no person " + id);
        PolicyEdit edit;
        const Removal removal{id, made_on(revision, before->revision)};
        (erase ? edit.erasedPeople : edit.removedPeople).push_back(removal);
        edit.audit.push_back(policy_audit(actor, erase ? "person erase" : "person remove", id,
                                          erase
                                              ? "personal data and cards erased; records keep the card number"
                                              : changes_of(before, nullptr)));
        return edit;
    });
}

// The policy's problems as the rows of the file that brought them, where a
// person's id names the row; the rest as one refusal.
ProblemsRefusal rows_refusal(const std::map<std::string, int>& lineOfId, RowErrors& errors,
                             const std::string& prefix) {
    return [&lineOfId, &errors, prefix](const std::vector<PolicyProblem>& problems) {
        std::vector<std::string> others;
        std::vector<RowError> rowErrors;
        for (const PolicyProblem& problem : problems) {
            const auto line = lineOfId.find(problem.person);
            if (line == lineOfId.end()) {
                others.push_back(problem.message);
                continue;
            }
            const bool aboutCards =
                !problem.card.empty() || problem.kind == PolicyProblemKind::cardOfTwoHolders;
            const std::string column = !problem.field.empty() ? problem.field
                                       : aboutCards           ? "cards"
                                                              : "groups";
            rowErrors.push_back(RowError{line->second, column, problem.message});
        }
        std::stable_sort(rowErrors.begin(), rowErrors.end(),
                         [](const RowError& a, const RowError& b) { return a.line < b.line; });
        for (RowError& error : rowErrors) errors.add(std::move(error));
        if (!others.empty()) throw Refused(prefix + "the policy would not hold: " + some_names(others));
        throw errors.refusal(prefix);
    };
}

}  // namespace

Outcome person_add(Store& store, const PersonArgs& args, const Actor& actor) {
    return save_value<Person>(
        store, actor, "person add", args.id, "added person",
        [&](const PolicyAt&) {
            Person person;
            person.id = args.id;
            return std::pair(with_args(std::move(person), args), static_cast<const Person*>(nullptr));
        },
        person_line);
}

namespace {

Outcome changed_person(Store& store, const PersonArgs& args, const Actor& actor, const std::string& action) {
    return save_value<Person>(
        store, actor, action, args.id, "person",
        [&](const PolicyAt& at) {
            const Person* before = find_person(at.policy, args.id);
            if (before == nullptr) throw NotFound("no person " + args.id);
            Person person = with_args(*before, args);
            person.revision = made_on(args.revision, before->revision);
            return std::pair(person, before);
        },
        person_line);
}

}  // namespace

Outcome person_change(Store& store, const PersonArgs& args, const Actor& actor) {
    return changed_person(store, args, actor, "person change");
}

Outcome person_disable(Store& store, const std::string& id, std::optional<int64_t> revision,
                       const Actor& actor) {
    PersonArgs args;
    args.id = id;
    args.active = false;
    args.revision = revision;
    return changed_person(store, args, actor, "person disable");
}

Outcome person_list(Store& store) { return listed(store.policy().policy.people, "people", person_line); }

namespace {

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool is_found_by(const Person& person, const std::string& lowerSearch) {
    if (lower_case(person.id).find(lowerSearch) != std::string::npos ||
        lower_case(person.name).find(lowerSearch) != std::string::npos) {
        return true;
    }
    return std::any_of(person.cards.begin(), person.cards.end(), [&](const PersonCard& card) {
        return card.card.find(lowerSearch) != std::string::npos;
    });
}

}  // namespace

Outcome person_page(Store& store, const std::string& search, int offset, int limit) {
    const std::string lowerSearch = lower_case(search);
    Json people = Json::array();
    int64_t total = 0;
    for (const Person& person : store.policy().policy.people) {
        if (!is_found_by(person, lowerSearch)) continue;
        if (total >= offset && total - offset < limit) people.push_back(to_json(person));
        ++total;
    }
    return success(Json{{"people", people}, {"total", total}},
                   std::to_string(total) + " people" + (search.empty() ? "" : " found by " + search));
}

Outcome person_show(Store& store, const std::string& id) {
    const Policy policy = store.policy().policy;
    const Person* person = find_person(policy, id);
    if (person == nullptr) throw NotFound("no person " + id);
    return success(to_json(*person), person_line(*person));
}

Outcome person_remove(Store& store, const std::string& id, std::optional<int64_t> revision,
                      const Actor& actor) {
    person_leaves(store, id, revision, actor, false);
    return success(Json{{"removed", id}}, "removed person " + id);
}

Outcome person_erase(Store& store, const std::string& id, std::optional<int64_t> revision,
                     const Actor& actor) {
    person_leaves(store, id, revision, actor, true);
    return success(
        Json{{"erased", id}},
        "erased person " + id + ": name, email, notes and cards; their records keep the card number");
}

Outcome person_import(Store& store, const std::string& file, bool replace, const Actor& actor) {
    return person_import_text(store, read_file(file), file, replace, actor);
}

Outcome person_import_text(Store& store, const std::string& text, const std::string& source, bool replace,
                           const Actor& actor) {
    const std::string prefix = source.empty() ? "" : source + ": ";
    RowErrors errors;
    std::vector<PersonRow> rows;
    try {
        rows = parse_people_csv(text, errors);
    } catch (const RowsRefused& refused) {
        throw RowsRefused(prefix + refused.what(), refused.rows(), refused.more_rows());
    } catch (const Refused& refused) {
        throw Refused(prefix + refused.what());
    }
    if (!errors.empty()) throw errors.refusal(prefix);
    std::map<std::string, int> lineOfId;
    for (const PersonRow& row : rows) lineOfId[row.person.id] = row.line;
    int added = 0;
    int changed = 0;
    int removed = 0;
    save_checked(
        store,
        [&](const PolicyAt& at) {
            added = changed = removed = 0;
            PolicyEdit edit;
            for (const PersonRow& row : rows) {
                const Person* before = find_person(at.policy, row.person.id);
                Person person = row.person;
                if (before != nullptr) {
                    // The file has no notes and styles: they stay.
                    person.notes = before->notes;
                    person.userStyle = before->userStyle;
                    person.openStyle = before->openStyle;
                    person.revision = before->revision;
                }
                const std::string changes = changes_of(before, &person);
                if (changes.empty()) continue;
                (before == nullptr ? added : changed) += 1;
                edit.audit.push_back(policy_audit(actor, "person import", person.id, changes));
                edit.people.push_back(std::move(person));
            }
            if (replace) {
                for (const Person& person : at.policy.people) {
                    if (lineOfId.count(person.id) != 0) continue;
                    ++removed;
                    edit.removedPeople.push_back(Removal{person.id, person.revision});
                    edit.audit.push_back(
                        policy_audit(actor, "person import", person.id, changes_of(&person, nullptr)));
                }
            }
            return edit;
        },
        rows_refusal(lineOfId, errors, prefix));
    const int unchanged = static_cast<int>(rows.size()) - added - changed;
    Outcome outcome;
    outcome.json =
        Json{{"added", added}, {"changed", changed}, {"unchanged", unchanged}, {"removed", removed}};
    outcome.lines.push_back(prefix + std::to_string(added) + " people added, " + std::to_string(changed) +
                            " changed, " + std::to_string(unchanged) + " unchanged" +
                            (replace ? ", " + std::to_string(removed) + " removed" : ""));
    return outcome;
}

Outcome person_export(Store& store, const std::string& file) {
    const std::vector<Person> people = store.policy().policy.people;
    const std::string text = write_people_csv(people);
    write_file_atomically(file, text.data(), text.size(), 0600);  // every card's PIN: the user's alone
    return success(Json{{"file", file}, {"people", people.size()}},
                   "wrote " + std::to_string(people.size()) + " people to " + file);
}

}  // namespace doorlinkd
