// The sites from the command line: the fleet's operations, audited.
#include "cli/commands.h"

namespace doorlinkd {

Outcome site_add_command(Store& store, const Site& site) {
    Outcome outcome = site_add(store, site);
    audit_cli_write(store, "site add", site.name);
    return outcome;
}

Outcome site_set_command(Store& store, const std::string& name, const std::optional<std::string>& zone,
                         const std::optional<std::string>& description) {
    Outcome outcome = site_set(store, name, zone, description);
    audit_cli_write(store, "site set", name);
    return outcome;
}

Outcome site_remove_command(Store& store, const std::string& name) {
    Outcome outcome = site_remove(store, name);
    audit_cli_write(store, "site remove", name);
    return outcome;
}

Outcome controller_set_command(Store& store, const std::string& name, const ControllerChange& change) {
    Outcome outcome = controller_set(store, name, change);
    audit_cli_write(store, "controller set", name, change_detail(change));
    return outcome;
}

}  // namespace doorlinkd
