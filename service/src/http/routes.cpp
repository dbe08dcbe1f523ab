#include "http/routes.h"

#include "http/handlers.h"

namespace doorlinkd {
namespace {

constexpr std::optional<Role> kPublic = std::nullopt;
constexpr Role kViewer = Role::Viewer;
constexpr Role kOperator = Role::Operator;
constexpr Role kAdmin = Role::Admin;
constexpr const char* kJson = "application/json";
constexpr const char* kPage = "offset,limit";

// Splits a path at '/' (the leading one aside).
std::vector<std::string> segments(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 1;
    for (;;) {
        const size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

bool is_parameter(const std::string& segment) {
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

bool matches(const std::string& pattern, const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    const std::vector<std::string> want = segments(pattern);
    const std::vector<std::string> have = segments(path);
    if (want.size() != have.size()) return false;
    for (size_t i = 0; i < want.size(); ++i) {
        if (is_parameter(want[i]) ? have[i].empty() : want[i] != have[i]) return false;
    }
    return true;
}

}  // namespace

const std::vector<Route>& api_routes() {
    static const std::vector<Route> routes = {
        {"GET", "/health", kPublic, "Whether the service and its database answer", get_health},
        {"GET", "/metrics", kViewer, "The service's counters in Prometheus' text format", get_metrics},
        {"GET", "/api/v1/openapi.json", kViewer, "This document", get_openapi},
        {"GET", "/api/v1/me", kViewer, "The token's own name and role", get_me},

        {"GET", "/api/v1/controllers", kViewer, "The controllers, each with its latest sync and archive",
         list_controllers},
        {"POST", "/api/v1/controllers", kOperator,
         "Add a controller: {name, address, mac, number?, long?, photos?, site?} (site: default the only "
         "one)",
         add_controller, "", kJson, 201},
        {"GET", "/api/v1/controllers/{name}", kViewer,
         "A controller with its live status (reachable, clock, skew, door_state)", get_controller},
        {"DELETE", "/api/v1/controllers/{name}", kOperator,
         "Remove a controller (refused while a card names only it)", remove_controller},
        {"POST", "/api/v1/controllers/{name}/doors/{door}/open", kOperator, "Open a door (0 to 3)",
         open_door},
        {"POST", "/api/v1/controllers/{name}/time", kOperator,
         "Set the controller's clock to its site's local time", set_clock},

        {"GET", "/api/v1/sites", kViewer, "The sites, each with its time zone", list_sites},
        {"POST", "/api/v1/sites", kOperator, "Add a site: {name, zone, description?}", add_site, "", kJson,
         201},
        {"PUT", "/api/v1/sites/{name}", kOperator, "Change a site: {zone?, description?}", put_site, "",
         kJson},
        {"DELETE", "/api/v1/sites/{name}", kOperator,
         "Remove a site (refused while controllers belong to it)", remove_site},

        {"GET", "/api/v1/cards", kViewer,
         "A page of the cards, searched by card, serial or controller (the PIN only to operators)",
         list_cards, "search,offset,limit"},
        {"PUT", "/api/v1/cards/{card}", kOperator,
         "Add or replace a card, checked as a row of an import (fields named as the CSV columns)", put_card,
         "", kJson},
        {"DELETE", "/api/v1/cards/{card}", kOperator, "Remove a card", remove_card},
        {"POST", "/api/v1/cards/import", kOperator,
         "Add and update cards from a CSV text (every row checked first); replace=true makes it the whole "
         "set",
         import_cards, "replace", "text/csv"},
        {"GET", "/api/v1/cards/export", kOperator, "Every card as a CSV text, PINs included", export_cards},

        {"POST", "/api/v1/sync", kOperator, "Start a sync of every controller or of {controllers: [names]}",
         start_sync, "", kJson, 202},
        {"GET", "/api/v1/sync/runs", kViewer, "Sync runs, newest first", list_sync_runs, kPage},
        {"GET", "/api/v1/sync/runs/{id}", kViewer, "A sync run's results with their drift", get_sync_run},
        {"POST", "/api/v1/archive", kOperator,
         "Start an archive of every controller or of {controllers: [names]}", start_archive, "", kJson, 202},
        {"GET", "/api/v1/archive/runs", kViewer, "Archive runs, newest first", list_archive_runs, kPage},
        {"GET", "/api/v1/archive/runs/{id}", kViewer, "An archive run's results", get_archive_run},

        {"GET", "/api/v1/records", kViewer, "Stored records, newest first by the instant each stands for",
         list_records, "controller,card,since,until,offset,limit", "", 200,
         "since (at or after) and until (before): an instant, ISO 8601 with its offset or Z "
         "(2026-12-08T09:00:00+01:00, 2026-12-08T08:00:00Z; a '+' sent as %2B), or yyyymmddhhmmss, "
         "compared with each record's own local time whatever its zone.",
         "Records"},
        {"GET", "/api/v1/photos/{sha256}", kViewer, "A stored photo (image/jpeg)", get_photo},

        {"GET", "/api/v1/events", kViewer, "Events after an id, oldest first, and the newest id", list_events,
         "after,controller,kind,limit"},
        {"GET", "/api/v1/events/stream", kViewer,
         "Events as they come (text/event-stream), after Last-Event-ID or after=", stream_events,
         "after,controller,kind"},

        {"POST", "/api/v1/plans", kOperator,
         "Make and store the plan of the newest policy: {site?, controller?, at?}; per controller the cards "
         "added, removed and changed against what it was last verified to hold, with reasons",
         make_plan, "", kJson, 201},
        {"POST", "/api/v1/plans/{id}/apply", kOperator,
         "Apply a stored plan: its syncs start (202 with the run); 409 when the policy, a controller's "
         "verified list or the date moved since it was made",
         apply_plan, "", "", 202},
        {"POST", "/api/v1/people/{id}/disable", kOperator,
         "Disable a person: their cards leave every controller that holds them at once, each removal "
         "confirmed by read-back (events of kind sync, and the audit)",
         disable_person},
        {"GET", "/api/v1/audit", kAdmin, "The audit log, newest first", get_audit, kPage},
    };
    return routes;
}

bool match_path(const std::string& pattern, const std::string& path,
                std::map<std::string, std::string>& params) {
    if (!matches(pattern, path)) return false;
    const std::vector<std::string> want = segments(pattern);
    const std::vector<std::string> have = segments(path);
    for (size_t i = 0; i < want.size(); ++i) {
        if (is_parameter(want[i])) params[want[i].substr(1, want[i].size() - 2)] = have[i];
    }
    return true;
}

const Route* find_route(const std::string& method, const std::string& path,
                        std::map<std::string, std::string>& params) {
    const std::string wanted = method == "HEAD" ? "GET" : method;
    for (const Route& route : api_routes()) {
        if (wanted != route.method) continue;
        params.clear();
        if (match_path(route.path, path, params)) return &route;
    }
    params.clear();
    return nullptr;
}

std::vector<std::string> path_names(const std::string& path) {
    std::vector<std::string> names;
    for (const std::string& segment : segments(path)) {
        if (is_parameter(segment)) names.push_back(segment.substr(1, segment.size() - 2));
    }
    return names;
}

std::string allowed_methods(const std::string& path) {
    std::string allowed;
    for (const Route& route : api_routes()) {
        if (!matches(route.path, path)) continue;
        const std::string method = route.method;
        if (allowed.find(method) != std::string::npos) continue;
        allowed += (allowed.empty() ? "" : ", ") + method;
        if (method == "GET") allowed += ", HEAD";
    }
    return allowed;
}

}  // namespace doorlinkd
