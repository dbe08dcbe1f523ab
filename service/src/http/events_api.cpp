// The routes of events: a page after an id, and the stream of them as they
// come (server-sent events). Both read the store, so the events other
// instances store show up too.
#include <algorithm>
#include <chrono>

#include "http/handlers.h"

namespace doorlinkd {
namespace {

constexpr auto kWait = std::chrono::seconds(1);
constexpr int kBatch = 100;
// How often a stream's token is looked up again: a stream outlives the
// request that opened it, and a revoked or expired token must not keep it.
// With the wait of a second, no token goes unchecked for 5 s.
constexpr auto kTokenCheck = std::chrono::seconds(4);

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

// One stream's place; it holds its slot until the stream ends.
class EventStream {
public:
    EventStream(Services& services, int64_t after, EventFilter filter, std::string tokenHash)
        : services_(services), after_(after), filter_(std::move(filter)), tokenHash_(std::move(tokenHash)) {}
    ~EventStream() { services_.streams.give_back(); }
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Writes the events stored since, or waits a while for some and writes
    // a comment, so that a client that went away is noticed. False ends the
    // connection.
    bool next(httplib::DataSink& sink) {
        try {
            if (services_.stopping || services_.hub.stopped() || !token_still_valid()) {
                sink.done();
                return true;
            }
            const uint64_t generation = services_.hub.generation();
            const std::vector<Event> events =
                services_.store.events(after_, filter_.controller, filter_.kind, kBatch);
            if (!events.empty()) {
                std::string text;
                for (const Event& event : events) {
                    text += "id: " + std::to_string(event.id) + "\ndata: " + event_json(event) + "\n\n";
                    after_ = event.id;
                }
                return sink.write(text.data(), text.size());
            }
            if (services_.hub.wait(generation, kWait) != generation) return true;
            static const std::string comment = ": keep-alive\n\n";
            return sink.write(comment.data(), comment.size());
        } catch (const std::exception&) {
            return false;  // the database failed: the client comes back with Last-Event-ID
        }
    }

private:
    bool token_still_valid() {
        const auto now = std::chrono::steady_clock::now();
        if (now - checked_ < kTokenCheck) return true;
        checked_ = now;
        return services_.store.token_by_hash(tokenHash_).has_value();
    }

    Services& services_;
    int64_t after_;
    EventFilter filter_;
    const std::string tokenHash_;
    std::chrono::steady_clock::time_point checked_ = std::chrono::steady_clock::now();  // when opened
};

}  // namespace

void list_events(Services& services, Call& call) {
    const int64_t after = query_number(call, "after", 0, 0, INT64_MAX / 2);
    const EventFilter filter = event_filter(call);
    const int limit = static_cast<int>(query_number(call, "limit", 100, 1, kMaxPage));
    // The newest id comes first, so that a client can start a stream a few
    // events before it.
    std::string text = "{\"last_id\":" + std::to_string(services.store.last_event_id()) + ",\"events\":[";
    bool first = true;
    for (const Event& event : services.store.events(after, filter.controller, filter.kind, limit)) {
        text += (first ? "" : ",") + event_json(event);
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
    auto stream = std::make_shared<EventStream>(services, after, filter, call.tokenHash);
    call.response.set_header("X-Accel-Buffering", "no");
    call.response.set_chunked_content_provider(
        "text/event-stream", [stream](size_t, httplib::DataSink& sink) { return stream->next(sink); });
}

}  // namespace doorlinkd
