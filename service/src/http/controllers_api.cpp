// The routes of the controllers: the list with each one's latest sync and
// archive, one with its live status, adding and removing, and what is done
// to a controller now (a door opened, its clock set).
#include "fleet/json_forms.h"
#include "fleet/operations.h"
#include "http/handlers.h"

namespace doorlinkd {
namespace {

Json optional_time(const std::optional<int64_t>& ms) { return ms ? Json(iso_time(*ms)) : Json(nullptr); }
Json optional_text(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

void add_summary(Json& json, const ControllerSummary* summary) {
    const ControllerSummary none;
    const ControllerSummary& s = summary ? *summary : none;
    json["last_sync"] = optional_time(s.lastSync);
    json["sync_status"] = optional_text(s.syncStatus);
    json["drift"] = s.drift;
    json["last_archive"] = optional_time(s.lastArchive);
    json["archive_status"] = optional_text(s.archiveStatus);
    json["archived_records"] = s.archivedRecords;
}

const ControllerSummary* summary_of(const std::vector<ControllerSummary>& summaries,
                                    const std::string& name) {
    for (const ControllerSummary& s : summaries) {
        if (s.controller == name) return &s;
    }
    return nullptr;
}

}  // namespace

void list_controllers(Services& services, Call& call) {
    const std::vector<ControllerSummary> summaries = services.store.controller_summaries();
    Json list = Json::array();
    const ServedSites served = services.store.served_sites();
    for (const Controller& c : services.store.controllers()) {
        Json json = to_json(c, served);
        add_summary(json, summary_of(summaries, c.name));
        list.push_back(std::move(json));
    }
    reply(call, 200, Json{{"controllers", list}});
}

void add_controller(Services& services, Call& call) {
    const Json body = body_object(call);
    // The audit names the controller also when its body is refused.
    const auto name = body.find("name");
    if (name != body.end() && name->is_string()) call.target = name->get<std::string>();
    const ControllerAddArgs args = controller_of_body(body);
    reply(call, 201, controller_add(services.store, args).json);
}

void get_controller(Services& services, Call& call) {
    const std::string name = controller_param(call);
    const std::optional<Controller> controller = services.store.controller(name);
    if (!controller) throw NotFound("no controller named " + name);
    Json json = to_json(*controller, services.store.served_sites());
    add_summary(json, summary_of(services.store.controller_summaries(), name));
    const ControllerStatus status = services.fleet.live_status(name);
    json["reachable"] = status.reachable;
    json["clock"] = optional_text(status.clock);
    json["skew"] = status.skew ? Json(*status.skew) : Json(nullptr);
    json["door_state"] = status.doorState ? Json(*status.doorState) : Json(nullptr);
    if (!status.message.empty()) json["message"] = status.message;
    reply(call, 200, json);
}

void put_controller(Services& services, Call& call) {
    const std::string name = controller_param(call);
    call.target = name;
    const ControllerChange change = controller_change_of_body(body_object(call));
    call.detail = change_detail(change);
    reply(call, 200, controller_set(services.store, name, change).json);
}

void remove_controller(Services& services, Call& call) {
    const std::string name = controller_param(call);
    call.target = name;
    if (!services.store.controller(name)) throw NotFound("no controller named " + name);
    const Outcome outcome = controller_remove(services.store, name);
    reply(call, outcome.json.contains("error") ? 409 : 200, outcome.json);
}

void open_door(Services& services, Call& call) {
    const std::string name = controller_param(call);
    call.target = name;
    const int door = door_path_number(call.param("door"));
    call.detail = "door " + std::to_string(door);
    services.fleet.open_door(name, door);
    reply(call, 200, Json{{"controller", name}, {"door", door}, {"opened", true}});
}

void set_clock(Services& services, Call& call) {
    const std::string name = controller_param(call);
    call.target = name;
    const int64_t skew = services.fleet.set_clock(name);
    call.detail = "the clock was " + std::to_string(skew) + " s ahead";
    reply(call, 200, Json{{"controller", name}, {"skew", skew}});
}

}  // namespace doorlinkd
