// The JSON form of the service's values, shared by every command that
// prints them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "fleet/outcome.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/policy.h"
#include "model/record.h"
#include "model/site.h"
#include "model/sync_result.h"
#include "store/policy.h"

namespace doorlinkd {

// A card's PIN (its password) goes only to those who may change it: an
// operator, or the command line, which holds the database anyway.
enum class PinView { Shown, Hidden };

Json to_json(const Controller& controller);
// With "served": whether a live instance serves its site.
Json to_json(const Controller& controller, const ServedSites& served);
Json to_json(const Site& site);
// Named as the CSV columns; extra_cards and controllers as arrays of texts.
// Hidden: without "password".
Json to_json(const Card& card, PinView pin);
// Hidden: a drift row of the password has "(hidden)" for either value.
Json to_json(const SyncResult& result, PinView pin);
Json to_json(const ArchiveResult& result);
// With "person": the id of the person whose card it was when it was
// archived, null when no one's, and then "person_name": their name among
// personNames, or null (gone since).
Json to_json(const StoredRecord& record, const std::map<std::string, std::string>& personNames);
// "yyyy-mm-dd", or null for none.
Json optional_date_json(const std::optional<CalendarDate>& date);
// Each range as a text "07:00-19:00".
Json ranges_json(const std::vector<TimeRange>& ranges);
// Days as arrays of ranges "07:00-19:00", Sunday first.
Json to_json(const AccessSchedule& schedule);
Json to_json(const Holiday& holiday);
// Grants as texts "SCHEDULE@site:SITE", "SCHEDULE@controllers:A,B".
Json to_json(const Group& group);
// Cards with their serials, never their PINs.
Json to_json(const Person& person);

}  // namespace doorlinkd
