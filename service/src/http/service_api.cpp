// The routes about the service itself: health, the caller, metrics, the
// audit log and the API's own description.
#include "http/handlers.h"
#include "http/openapi.h"

namespace doorlinkd {

// A database that fails is a StoreError, which the server answers as a
// plain 503 (its text, which may name the database's host and user, goes
// only to the log).
void get_health(Services& services, Call& call) {
    services.store.now_ms();
    reply(call, 200, Json{{"status", "ok"}});
}

void get_me(Services&, Call& call) {
    reply(call, 200, Json{{"name", call.actor.who}, {"role", role_name(call.role)}});
}

void get_metrics(Services& services, Call& call) {
    call.response.set_content(
        services.metrics.prometheus_text(services.store.outbox_depth()) +
            served_gauges_text(services.store.controllers(), services.store.served_sites()),
        "text/plain; version=0.0.4");
}

void get_audit(Services& services, Call& call) {
    const Paging page = paging(call);
    const Page<AuditEntry> entries = services.store.audit_entries(page.offset, page.limit);
    Json list = Json::array();
    for (const AuditEntry& e : entries.items) {
        list.push_back(Json{{"id", e.id},
                            {"time", iso_time(e.time)},
                            {"who", e.who},
                            {"address", e.address},
                            {"action", e.action},
                            {"target", e.target},
                            {"result", e.result},
                            {"detail", e.detail}});
    }
    reply(call, 200, Json{{"audit", list}, {"total", entries.total}});
}

void get_openapi(Services&, Call& call) {
    static const std::string document = json_text(openapi_document(api_routes()));
    call.response.set_content(document, "application/json");
}

}  // namespace doorlinkd
