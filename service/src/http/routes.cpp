#include "http/routes.h"

#include "common/percent_decoding.h"
#include "http/handlers.h"

namespace doorlinkd {
namespace {

constexpr std::optional<Role> kPublic = std::nullopt;
constexpr Role kViewer = Role::Viewer;
constexpr Role kOperator = Role::Operator;
constexpr Role kAdmin = Role::Admin;
constexpr const char* kJson = "application/json";
constexpr const char* kPage = "offset,limit";
constexpr const char* kPolicyCheck =
    "The whole policy is checked before it is saved (every controller's limits); answers the value with "
    "its revision.";
constexpr const char* kRevisionRule =
    "revision is required: the value's revision as listed. 409 when it is not the saved one (someone "
    "changed the value since); answers the value with its new revision.";
constexpr const char* kRemovalRule =
    "revision is required: the value's revision as listed. 409 when it is not the saved one (someone "
    "changed the value since).";

// Splits a path as sent at '/' (the leading one aside) and %-decodes each
// part, so that a name holding '/' (sent as %2F) stays one segment.
std::vector<std::string> segments(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 1;
    for (;;) {
        const size_t slash = path.find('/', start);
        parts.push_back(percent_decoded(
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start)));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

bool is_parameter(const std::string& segment) {
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

using Segments = std::vector<std::string>;

// Whether a path's decoded segments (none for a path that does not start
// with '/') fill the pattern's, each {name} with one that is not empty;
// those go to params by their names when params is given.
bool matches(const std::string& pattern, const Segments& have,
             std::map<std::string, std::string>* params = nullptr) {
    const Segments want = segments(pattern);
    if (want.size() != have.size()) return false;
    for (size_t i = 0; i < want.size(); ++i) {
        if (is_parameter(want[i]) ? have[i].empty() : want[i] != have[i]) return false;
    }
    for (size_t i = 0; params && i < want.size(); ++i) {
        if (is_parameter(want[i])) (*params)[want[i].substr(1, want[i].size() - 2)] = have[i];
    }
    return true;
}

// The path's decoded segments, split once for all the routes it is matched
// against.
Segments path_segments(const std::string& path) {
    return path.empty() || path[0] != '/' ? Segments{} : segments(path);
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
         "Add a controller: {name, address, mac, number?, long?, photos?, lossy?, site?} (site: default the "
         "only one)",
         add_controller, "", kJson, 201},
        {"GET", "/api/v1/controllers/{name}", kViewer,
         "A controller with its live status (reachable, clock, skew, door_state)", get_controller},
        {"PUT", "/api/v1/controllers/{name}", kOperator,
         "Change a controller: {site?, lossy?} (lossy: resend on a wait that adapts to its replies)",
         put_controller, "", kJson},
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
        {"GET", "/api/v1/plans/{id}", kViewer,
         "A stored plan: its revision and moment, who made it, per controller the verified state it was "
         "worked out against and its card changes as the plan listed them (compiled again from those), and "
         "whether it was applied",
         get_plan, "", "", 200,
         "The card changes themselves are not stored: POST /api/v1/plans shows them when the plan is made."},
        {"POST", "/api/v1/plans/{id}/apply", kOperator,
         "Apply a stored plan: its syncs start (202 with the run); 409 when the policy, a controller's "
         "verified list or the date moved since it was made",
         apply_plan, "", "", 202},
        {"GET", "/api/v1/people", kViewer,
         "A page of the people, in id order, found by id, name (in any case) or card number; never a PIN",
         list_people, "search,offset,limit", "", 200,
         "Answers {people, total}; each person as {id, name, email, notes, active, valid_from, valid_until, "
         "groups, cards: [{card, serial}], user_style, open_style, revision}."},
        {"GET", "/api/v1/people/{id}", kViewer, "A person, without PINs", get_person},
        {"POST", "/api/v1/people", kOperator,
         "Add a person: {id, name, email?, notes?, active?, valid_from?, valid_until?, groups?: [names], "
         "cards?: [{card, serial, pin}], user_style?, open_style?}",
         add_person, "", kJson, 201, kPolicyCheck},
        {"PUT", "/api/v1/people/{id}", kOperator,
         "Change a person: {revision, ...the fields to set}; the rest kept, null clears email and the dates. "
         "A card given without pin keeps its PIN; a card new to them needs one",
         put_person, "", kJson, 200, kRevisionRule},
        {"DELETE", "/api/v1/people/{id}", kOperator,
         "Remove a person (their records keep their id); revision: the person's, as listed", remove_person,
         "revision", "", 200, kRemovalRule},
        {"POST", "/api/v1/people/{id}/disable", kOperator,
         "Disable a person: their cards leave every controller that holds them at once, each removal "
         "confirmed by read-back (events of kind sync, and the audit)",
         disable_person},
        {"GET", "/api/v1/groups", kViewer,
         "The groups with their grants (\"SCHEDULE@site:SITE\", \"SCHEDULE@controllers:A,B\")", list_groups},
        {"POST", "/api/v1/groups", kOperator, "Add a group: {name, grants?: [texts]}", add_group, "", kJson,
         201, kPolicyCheck},
        {"PUT", "/api/v1/groups/{name}", kOperator, "Change a group's grants: {grants, revision}", put_group,
         "", kJson, 200, kRevisionRule},
        {"DELETE", "/api/v1/groups/{name}", kOperator, "Remove a group (409 while someone is in it)",
         remove_group, "revision", "", 200, kRemovalRule},
        {"GET", "/api/v1/schedules", kViewer,
         "The schedules: days as seven arrays of ranges \"07:00-19:00\" (Sunday first), holidays closed or "
         "open",
         list_schedules},
        {"POST", "/api/v1/schedules", kOperator,
         "Add a schedule: {name, days?: [7 arrays of ranges], holidays?: \"closed\" | \"open\"}",
         add_schedule, "", kJson, 201, kPolicyCheck},
        {"PUT", "/api/v1/schedules/{name}", kOperator, "Change a schedule: {days?, holidays?, revision}",
         put_schedule, "", kJson, 200, kRevisionRule},
        {"DELETE", "/api/v1/schedules/{name}", kOperator, "Remove a schedule (409 while a group grants it)",
         remove_schedule, "revision", "", 200, kRemovalRule},
        {"GET", "/api/v1/holidays", kViewer, "The holidays, of one site or of all", list_holidays, "site"},
        {"POST", "/api/v1/holidays", kOperator,
         "Add a holiday: {site, date: yyyy-mm-dd, yearly?}; on it the closed schedules open nothing",
         add_holiday, "", kJson, 201, kPolicyCheck},
        {"PUT", "/api/v1/holidays/{site}/{date}", kOperator, "Change a holiday: {yearly, revision}",
         put_holiday, "", kJson, 200, kRevisionRule},
        {"DELETE", "/api/v1/holidays/{site}/{date}", kOperator, "Remove a holiday", remove_holiday,
         "revision", "", 200, kRemovalRule},
        {"GET", "/api/v1/policy/revision", kViewer,
         "The policy's revision and the one each controller is sent: {revision, applied: {controller: "
         "revision}, behind: [controllers sent an older one]}",
         get_policy_revision, "", "", 200,
         "A controller behind was not applied the newest edits yet: a plan and its apply send them."},

        {"GET", "/api/v1/reports/access", kViewer,
         "Where and when a person may enter: per controller (site, zone) their ranges on each of the next "
         "seven local days there, today first",
         report_access, "person,format", "", 200,
         "Exactly the ranges the records compiled on each of those days give their cards: groups, grants, "
         "schedules, holidays of the controller's site (a closed schedule opens nothing on one), active and "
         "valid_from/valid_until read in the site's zone. format=csv: a CSV file."},
        {"GET", "/api/v1/reports/entry", kViewer,
         "Who may enter a controller: the people with their ranges per weekday and on holidays, validity and "
         "card numbers, and the card rows that go to it",
         report_entry, "controller,format", "", 200,
         "People whose validity ended are left out; one valid only later is listed with valid_from. "
         "format=csv: a CSV file."},
        {"GET", "/api/v1/reports/unused-cards", kViewer,
         "The cards (people's and card rows) with no stored record in the last days (1 to 3650, default 90), "
         "with their holders and their newest record's instant",
         report_unused_cards, "days,format", "", 200, "format=csv: a CSV file."},
        {"GET", "/api/v1/audit", kAdmin, "The audit log, newest first", get_audit, kPage},
    };
    return routes;
}

bool match_path(const std::string& pattern, const std::string& path,
                std::map<std::string, std::string>& params) {
    return matches(pattern, path_segments(path), &params);
}

const Route* find_route(const std::string& method, const std::string& path,
                        std::map<std::string, std::string>& params) {
    const std::string wanted = method == "HEAD" ? "GET" : method;
    const Segments have = path_segments(path);
    for (const Route& route : api_routes()) {
        if (wanted != route.method) continue;
        params.clear();
        if (matches(route.path, have, &params)) return &route;
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
    const Segments have = path_segments(path);
    for (const Route& route : api_routes()) {
        if (!matches(route.path, have)) continue;
        const std::string method = route.method;
        if (allowed.find(method) != std::string::npos) continue;
        allowed += (allowed.empty() ? "" : ", ") + method;
        if (method == "GET") allowed += ", HEAD";
    }
    return allowed;
}

}  // namespace doorlinkd
