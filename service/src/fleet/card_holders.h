// The people beside the cards that lists show: a record's person by name,
// and who holds an event's card, each found once per page rather than per
// row.
#pragma once

#include <string>
#include <vector>

#include "fleet/outcome.h"
#include "model/event.h"
#include "model/record.h"
#include "store/store.h"

namespace doorlinkd {

// The records' JSON (json_forms.h), each person with their name.
Json records_json(Store& store, const std::vector<StoredRecord>& records);

// The events, each of a card (a record or a photo) with "person_name" in
// its data of who holds that card now, or null, and their id as "person"
// where the event did not name one.
std::vector<Event> with_card_holders(Store& store, std::vector<Event> events);
// Those events as event_json writes them.
std::vector<std::string> event_texts(Store& store, std::vector<Event> events);

}  // namespace doorlinkd
