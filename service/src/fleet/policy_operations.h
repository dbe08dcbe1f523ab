// What the command line and the API do alike to the policy: schedules,
// holidays, groups and people added, changed, listed and removed, and the
// people file imported and exported. Every save is checked whole (the
// compiler's limits on every controller) and audited with what changed, a
// PIN as "PIN changed"; a change made on a revision that is no longer the
// saved one throws Stale.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "fleet/outcome.h"
#include "model/policy.h"
#include "store/store.h"

namespace doorlinkd {

// The fields of a command: what is given is set, the rest kept (or, when
// adding, left at its default). revision: the revision the change was made
// on; none is the one saved now.
struct ScheduleArgs {
    std::string name;
    std::array<std::optional<std::string>, kDays> days;  // ranges "07:00-19:00,...", Sunday first
    std::optional<std::string> holidays;                 // "closed" or "open"
    std::optional<int64_t> revision;
};
Outcome schedule_add(Store& store, const ScheduleArgs& args, const Actor& actor);
Outcome schedule_change(Store& store, const ScheduleArgs& args, const Actor& actor);
Outcome schedule_list(Store& store);
// Refused, naming the groups, while a group grants it.
Outcome schedule_remove(Store& store, const std::string& name, std::optional<int64_t> revision,
                        const Actor& actor);

struct HolidayArgs {
    std::string site;
    std::string date;  // yyyy-mm-dd
    std::optional<bool> yearly;
    std::optional<int64_t> revision;
};
Outcome holiday_add(Store& store, const HolidayArgs& args, const Actor& actor);
Outcome holiday_change(Store& store, const HolidayArgs& args, const Actor& actor);
// Those of one site, or of all when site is empty.
Outcome holiday_list(Store& store, const std::string& site);
Outcome holiday_remove(Store& store, const HolidayArgs& args, const Actor& actor);

struct GroupArgs {
    std::string name;
    std::optional<std::vector<std::string>> grants;  // "SCHEDULE@site:SITE", "SCHEDULE@controllers:A,B"
    std::optional<int64_t> revision;
};
Outcome group_add(Store& store, const GroupArgs& args, const Actor& actor);
Outcome group_change(Store& store, const GroupArgs& args, const Actor& actor);
Outcome group_list(Store& store);
// Refused, naming the people, while someone is in it.
Outcome group_remove(Store& store, const std::string& name, std::optional<int64_t> revision,
                     const Actor& actor);

// A card as the API gives it: without a PIN, it keeps the one it has.
struct PersonCardArgs {
    std::string card;
    std::string serial;
    std::optional<std::string> pin;
};

struct PersonArgs {
    std::string id;
    std::optional<std::string> name, email, notes;
    std::optional<bool> active;
    std::optional<std::string> validFrom, validUntil;  // yyyy-mm-dd; "" is none
    std::optional<std::string> groups;                 // space-separated
    std::optional<std::string> cards;                  // "CARD:SERIAL:PIN ..." as the people file has them
    // The cards, in place of cards: one without a PIN keeps the one it has;
    // a card new to the person needs one.
    std::optional<std::vector<PersonCardArgs>> cardList;
    std::optional<int> userStyle, openStyle;
    std::optional<int64_t> revision;
};
Outcome person_add(Store& store, const PersonArgs& args, const Actor& actor);
Outcome person_change(Store& store, const PersonArgs& args, const Actor& actor);
// The person leaves: inactive from this revision on, audited as "person
// disable". Their cards leave the controllers through the leavers' removal
// (fleet/leaver_removal.h), which the caller starts.
Outcome person_disable(Store& store, const std::string& id, std::optional<int64_t> revision,
                       const Actor& actor);
// Never with a PIN.
Outcome person_list(Store& store);
// {people, total}: a page of the people (in id order) whose id or name holds
// search (in any case), or one of whose card numbers does; "" is everyone.
Outcome person_page(Store& store, const std::string& search, int offset, int limit);
// One person; NotFound for another id.
Outcome person_show(Store& store, const std::string& id);
// The person goes; the records of their cards keep their id.
Outcome person_remove(Store& store, const std::string& id, std::optional<int64_t> revision,
                      const Actor& actor);
// The person goes with their personal data (name, email, notes, cards);
// their records keep the card number, marked as of an erased person.
Outcome person_erase(Store& store, const std::string& id, std::optional<int64_t> revision,
                     const Actor& actor);

// The policy's revision and the one each controller's syncs send
// ({revision, applied: {controller: revision}, behind: [controllers sent an
// older one]}): whether the policy was edited since it was last applied.
Outcome policy_revisions(Store& store);

// The card records the policy gives the controller at the instant atMs
// (ms since the epoch), read in its site's zone; PINs hidden.
Outcome policy_compile(Store& store, const std::string& controller, int64_t atMs);

// Adds and changes the people of a file (id,name,email,active,valid_from,
// valid_until,groups,cards); with replace, the people not in it go. Every
// bad row is named by line and column, and nothing is saved when any is.
Outcome person_import(Store& store, const std::string& file, bool replace, const Actor& actor);
Outcome person_import_text(Store& store, const std::string& text, const std::string& source, bool replace,
                           const Actor& actor);
// Every person into a file that only its owner may read: it holds the PINs.
Outcome person_export(Store& store, const std::string& file);

}  // namespace doorlinkd
