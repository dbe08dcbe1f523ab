// What happens in the fleet, as the service tells it: stored in the events
// table, streamed to browsers and, through the outbox, published on MQTT.
#pragma once

#include <cstdint>
#include <string>

namespace doorlinkd {

// Kinds of events and the fields of each (data, a JSON object):
//   "error"  {"text"}                          an error report a controller pushed
//   "photo"  {"card", "time", "sha256", "path"} a photo a controller pushed
//   "record" {"card", "time", "record_kind", "sha256", "path", "instant", "site",
//            "zone", "local_kind"}  an archived record (sha256 and path null
//            without a photo; instant: ISO 8601 UTC "2026-12-08T08:00:00Z"
//            of its time in the zone of its site; local_kind: exact,
//            ambiguous, nonexistent or invalid, see RecordStamp)
//   "sync"   {"run", "status", "cards", "drift", "message"}  a controller's sync result
//   "status" {"reachable", "skew", "message"}   a controller's status changed
// time fields are the controller's "yyyy-mm-dd hh:mm[:ss]" texts; path is
// the REST path of the photo ("/api/v1/photos/<sha256>").
struct Event {
    int64_t id = 0;  // set by the store: ascending, never reused
    int64_t at = 0;  // ms since the epoch, set by the store
    std::string controller;
    std::string kind;
    std::string data = "{}";  // JSON object text
};

// {"id", "at" (ISO 8601 UTC with ms), "controller", "kind", ...data's fields}:
// the form of every event on MQTT, in the event stream and in the API.
std::string event_json(const Event& event);

// The MQTT topic of an event: "doorlink/<controller>/sync" for "sync",
// "doorlink/<controller>/status" for "status" (retained), and
// "doorlink/<controller>/event" for the others.
std::string event_topic(const Event& event);
bool event_retained(const Event& event);

// "yyyy-mm-ddThh:mm:ss.mmmZ" of ms since the epoch.
std::string iso_time(int64_t ms);

}  // namespace doorlinkd
