// The routes that take the policy to the controllers: a plan made and
// stored, a plan applied (its syncs run in the background, 202 with the
// run; 409 when anything it was made from moved), and a leaver disabled,
// whose cards the service removes at once.
#include "fleet/leaver_removal.h"
#include "fleet/plan_operations.h"
#include "fleet/policy_operations.h"
#include "http/handlers.h"
#include "http/request_forms.h"
#include "zones/instant_text.h"

namespace doorlinkd {
namespace {

std::string optional_text(const Json& body, const char* key) {
    const auto found = body.find(key);
    if (found == body.end()) return "";
    if (!found->is_string()) throw Refused(std::string(key) + ": a text");
    return found->get<std::string>();
}

}  // namespace

void make_plan(Services& services, Call& call) {
    const Json body = body_object(call);
    PlanArgs args{optional_text(body, "site"), optional_text(body, "controller"), std::nullopt};
    const std::string at = optional_text(body, "at");
    if (!at.empty()) args.atMs = parsed_iso_instant(at);
    const Outcome outcome = plan_make(services.store, args, call.actor);
    call.target = "plan " + outcome.json.at("plan").dump();
    reply(call, 201, outcome.json);
}

void get_plan(Services& services, Call& call) {
    const int64_t id = run_path_id(call.param("id"));
    reply(call, 200, plan_show(services.store, id).json);
}

void apply_plan(Services& services, Call& call) {
    const int64_t id = run_path_id(call.param("id"));
    call.target = "plan " + std::to_string(id);
    int64_t run = 0;
    std::string waiting;
    // The syncs go on after the answer; their results come as events. Once
    // applied, a queue too full to take them leaves them to the next run.
    const SyncDriver started = [&](const std::vector<std::string>& names) {
        try {
            if (!names.empty()) run = services.fleet.start_sync(names, call.actor);
        } catch (const Busy& busy) {
            waiting = busy.what();
        }
        return SyncDone{run, {}};
    };
    const Outcome outcome = plan_apply(services.store, id, call.actor, started);
    call.detail = !waiting.empty() ? "applied; sent by the next sync: " + waiting
                  : run == 0       ? "nothing to send"
                                   : "run " + std::to_string(run);
    Json answer{{"plan", id}, {"revision", outcome.json.at("revision")}, {"run", run}};
    if (!waiting.empty()) answer["waiting"] = waiting;
    reply(call, 202, answer);
}

void disable_person(Services& services, Call& call) {
    const std::string& id = call.param("id");
    call.target = id;
    const Policy before = services.store.policy(CardRowsRead::none).policy;
    const Outcome outcome = person_disable(services.store, id, std::nullopt, call.actor);
    services.fleet.wake_leavers();
    Json controllers = Json::array();
    for (const Controller& controller : holding_controllers(services.store, before, {id})) {
        controllers.push_back(controller.name);
    }
    reply(call, 200, Json{{"person", outcome.json}, {"controllers", controllers}});
}

}  // namespace doorlinkd
