// The events the store writes itself, and what it reads back from events.
#pragma once

#include <optional>
#include <string>

#include "model/event.h"
#include "model/record.h"

namespace doorlinkd {

// The "record" event of a record new to the store: {"card", "time"
// ("yyyy-mm-dd hh:mm:ss"), "record_kind", "sha256", "path"}, the last two null
// without a photo.
Event record_event(const IncomingRecord& record);

// The photo an event's data names in its "sha256" field, if any.
std::optional<std::string> photo_named_by(const std::string& data);

}  // namespace doorlinkd
