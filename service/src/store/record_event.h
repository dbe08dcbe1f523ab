// The events the store writes itself, and what it reads back from events.
#pragma once

#include <optional>
#include <string>

#include "model/event.h"
#include "model/record.h"
#include "zones/instant_text.h"

namespace doorlinkd {

// The "record" event of a record new to the store: {"card", "time"
// ("yyyy-mm-dd hh:mm:ss"), "record_kind", "sha256", "path", and the stamp's
// fields (put_stamp)}, sha256 and path null without a photo.
Event record_event(const IncomingRecord& record, const RecordStamp& stamp);

// A record's stamp as the fields of its JSON forms (the API's, the CLI's
// and the "record" event's): "instant" (ISO 8601 UTC to the second, with
// Z), "site", "zone" and "local_kind".
template <class Json>
void put_stamp(Json& json, const RecordStamp& stamp) {
    json["instant"] = iso_instant(stamp.instant);
    json["site"] = stamp.site;
    json["zone"] = stamp.zone;
    json["local_kind"] = stamp.localKind;
}

// The photo an event's data names in its "sha256" field, if any.
std::optional<std::string> photo_named_by(const std::string& data);

}  // namespace doorlinkd
