// The JSON form of the service's values, shared by every command that
// prints them.
#pragma once

#include "archive/archive.h"
#include "fleet/outcome.h"
#include "model/card.h"
#include "model/controller.h"
#include "model/record.h"
#include "model/sync_result.h"

namespace doorlinkd {

Json to_json(const Controller& controller);
// Named as the CSV columns; extra_cards and controllers as arrays of texts.
Json to_json(const Card& card);
Json to_json(const SyncResult& result);
Json to_json(const ArchiveResult& result);
Json to_json(const StoredRecord& record);

}  // namespace doorlinkd
