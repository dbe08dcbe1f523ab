// The routes of the sites: the list, adding, changing and removing one.
#include "fleet/operations.h"
#include "http/handlers.h"
#include "http/request_forms.h"

namespace doorlinkd {

void list_sites(Services& services, Call& call) { reply(call, 200, site_list(services.store).json); }

void add_site(Services& services, Call& call) {
    const Json body = body_object(call);
    // The audit names the site also when its body is refused.
    const auto name = body.find("name");
    if (name != body.end() && name->is_string()) call.target = name->get<std::string>();
    reply(call, 201, site_add(services.store, site_of_body(body)).json);
}

void put_site(Services& services, Call& call) {
    const std::string name = site_path_name(call.param("name"));
    call.target = name;
    const SiteChanges changes = site_changes_of_body(body_object(call));
    if (changes.zone) call.detail = "zone " + *changes.zone;
    reply(call, 200, site_set(services.store, name, changes.zone, changes.description).json);
}

void remove_site(Services& services, Call& call) {
    const std::string name = site_path_name(call.param("name"));
    call.target = name;
    try {
        reply(call, 200, site_remove(services.store, name).json);
    } catch (const NotFound&) {
        throw;
    } catch (const Refused& e) {
        throw HttpError(409, e.what());  // controllers belong to it
    }
}

}  // namespace doorlinkd
