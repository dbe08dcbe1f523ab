// The routes of the policy: people, groups, schedules and holidays listed,
// added, changed and removed, and the policy's revision beside the ones the
// controllers are sent. Every change names the revision of the value it was
// made on (PUT's body, DELETE's ?revision=): 409 when it is not the saved
// one. A PIN is never answered, to any role: operators may only set it.
#include "fleet/policy_operations.h"
#include "http/handlers.h"
#include "http/policy_forms.h"

namespace doorlinkd {
namespace {

int64_t revision_param(const Call& call) {
    const bool given = call.request.has_param("revision");
    return revision_of_query(given, given ? call.request.get_param_value("revision") : "");
}

std::string name_in_body(const Json& body, const char* key) {
    const auto found = body.find(key);
    return found != body.end() && found->is_string() ? found->get<std::string>() : "";
}

// People, groups and schedules alike: read from a body (the path's name
// when changed), saved by their operation.
template <typename Args>
using BodyReader = Args (*)(const Json& body, const std::string& pathName, bool change);
template <typename Args>
using Save = Outcome (*)(Store& store, const Args& args, const Actor& actor);
using Removal = Outcome (*)(Store& store, const std::string& name, std::optional<int64_t> revision,
                            const Actor& actor);

template <typename Args>
void add_value(Services& services, Call& call, const char* key, BodyReader<Args> read, Save<Args> add) {
    const Json body = body_object(call);
    call.target = name_in_body(body, key);  // named also when the body is refused
    reply(call, 201, add(services.store, read(body, "", false), call.actor).json);
}

template <typename Args>
void put_value(Services& services, Call& call, const char* param, BodyReader<Args> read, Save<Args> change) {
    const Args args = read(body_object(call), call.param(param), true);
    call.detail = "on revision " + std::to_string(args.revision.value_or(0));
    reply(call, 200, change(services.store, args, call.actor).json);
}

// A removal refused because something still names the value is a
// conflict with the saved policy, as a site's removal is.
void remove_value(Services& services, Call& call, const char* param, Removal remove) {
    const int64_t revision = revision_param(call);
    try {
        reply(call, 200, remove(services.store, call.param(param), revision, call.actor).json);
    } catch (const NotFound&) {
        throw;
    } catch (const Refused& e) {
        throw HttpError(409, e.what());
    }
}

}  // namespace

void list_people(Services& services, Call& call) {
    const std::string search = query_text(call, "search");
    const Paging page = paging(call);
    reply(call, 200, person_page(services.store, search, page.offset, page.limit).json);
}

void get_person(Services& services, Call& call) {
    reply(call, 200, person_show(services.store, call.param("id")).json);
}

void add_person(Services& services, Call& call) {
    add_value(services, call, "id", person_of_body, person_add);
}

void put_person(Services& services, Call& call) {
    put_value(services, call, "id", person_of_body, person_change);
}

void remove_person(Services& services, Call& call) { remove_value(services, call, "id", person_remove); }

void list_groups(Services& services, Call& call) { reply(call, 200, group_list(services.store).json); }

void add_group(Services& services, Call& call) {
    add_value(services, call, "name", group_of_body, group_add);
}

void put_group(Services& services, Call& call) {
    put_value(services, call, "name", group_of_body, group_change);
}

void remove_group(Services& services, Call& call) { remove_value(services, call, "name", group_remove); }

void list_schedules(Services& services, Call& call) { reply(call, 200, schedule_list(services.store).json); }

void add_schedule(Services& services, Call& call) {
    add_value(services, call, "name", schedule_of_body, schedule_add);
}

void put_schedule(Services& services, Call& call) {
    put_value(services, call, "name", schedule_of_body, schedule_change);
}

void remove_schedule(Services& services, Call& call) {
    remove_value(services, call, "name", schedule_remove);
}

void list_holidays(Services& services, Call& call) {
    reply(call, 200, holiday_list(services.store, query_text(call, "site")).json);
}

void add_holiday(Services& services, Call& call) {
    const Json body = body_object(call);
    call.target = name_in_body(body, "site") + " " + name_in_body(body, "date");
    reply(call, 201, holiday_add(services.store, holiday_of_body(body), call.actor).json);
}

void put_holiday(Services& services, Call& call) {
    call.target = call.param("site") + " " + call.param("date");
    const HolidayArgs args =
        holiday_change_of_body(body_object(call), call.param("site"), call.param("date"));
    reply(call, 200, holiday_change(services.store, args, call.actor).json);
}

void remove_holiday(Services& services, Call& call) {
    call.target = call.param("site") + " " + call.param("date");
    HolidayArgs args{call.param("site"), call.param("date"), std::nullopt, revision_param(call)};
    reply(call, 200, holiday_remove(services.store, args, call.actor).json);
}

void get_policy_revision(Services& services, Call& call) {
    reply(call, 200, policy_revisions(services.store).json);
}

}  // namespace doorlinkd
