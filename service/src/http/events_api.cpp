// The routes of events: a page after an id, and the stream of them as they
// come (server-sent events), which the server writes from its event feed.
// Both see the events other instances store too.
#include <algorithm>

#include "fleet/card_holders.h"
#include "http/handlers.h"

namespace doorlinkd {
namespace {

struct EventFilter {
    std::string controller;
    std::string kind;
};

EventFilter event_filter(const Call& call) {
    EventFilter filter;
    filter.controller = query_text(call, "controller");
    if (!filter.controller.empty()) checked_controller_name(filter.controller);
    filter.kind = query_text(call, "kind");
    static const std::vector<std::string> kinds = {"error", "photo", "record", "sync", "status"};
    if (!filter.kind.empty() && std::find(kinds.begin(), kinds.end(), filter.kind) == kinds.end()) {
        throw HttpError(400, "kind: error, photo, record, sync or status");
    }
    return filter;
}

}  // namespace

void list_events(Services& services, Call& call) {
    const int64_t after = query_number(call, "after", 0, 0, INT64_MAX / 2);
    const EventFilter filter = event_filter(call);
    const int limit = static_cast<int>(query_number(call, "limit", 100, 1, kMaxPage));
    // The newest id comes first, so that a client can start a stream a few
    // events before it.
    std::string text = "{\"last_id\":" + std::to_string(services.store.last_event_id()) + ",\"events\":[";
    bool first = true;
    for (const std::string& event :
         event_texts(services.store, services.store.events(after, filter.controller, filter.kind, limit))) {
        text += (first ? "" : ",") + event;
        first = false;
    }
    call.response.set_content(text + "]}", "application/json");
}

void stream_events(Services& services, Call& call) {
    const EventFilter filter = event_filter(call);
    const std::string lastId = call.request.get_header_value("Last-Event-ID");
    int64_t after = 0;
    if (!lastId.empty()) {
        after = event_id_number(lastId, "Last-Event-ID");
    } else if (call.request.has_param("after")) {
        after = event_id_number(call.request.get_param_value("after"), "after");
    } else {
        after = services.store.last_event_id();
    }
    if (!services.streams.take()) {
        throw HttpError(503, "the most event streams are open; try again later", 5);
    }
    // The slot is the server's to give back when the stream ends.
    call.response.streams = true;
    call.response.stream = StreamRequest{after, filter.controller, filter.kind, call.tokenHash};
    call.response.set_header("Content-Type", "text/event-stream");
    call.response.set_header("X-Accel-Buffering", "no");
}

}  // namespace doorlinkd
