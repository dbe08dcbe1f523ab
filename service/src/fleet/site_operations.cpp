// The sites, each with the time zone its controllers keep.
#include "fleet/json_forms.h"
#include "fleet/operations.h"

namespace doorlinkd {
namespace {

std::string shown(const Site& site) {
    return site.name + "  " + site.zone + (site.description.empty() ? "" : "  " + site.description);
}

}  // namespace

Outcome site_add(Store& store, const Site& site) {
    store.add_site(site);
    return success(to_json(site), "added site " + shown(site));
}

Outcome site_list(Store& store) {
    Outcome outcome;
    Json list = Json::array();
    for (const Site& site : store.sites()) {
        list.push_back(to_json(site));
        outcome.lines.push_back(shown(site));
    }
    outcome.json["sites"] = list;
    return outcome;
}

Outcome site_set(Store& store, const std::string& name, const std::optional<std::string>& zone,
                 const std::optional<std::string>& description) {
    if (!zone && !description) throw Refused("site set: give the zone, the description or both");
    const Site site = store.set_site(name, zone, description);
    return success(to_json(site), "site " + shown(site));
}

Outcome site_remove(Store& store, const std::string& name) {
    store.remove_site(name);
    return success(Json{{"removed", name}}, "removed site " + name);
}

}  // namespace doorlinkd
