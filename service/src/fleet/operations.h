// What the command line, the REST API and MQTT do alike to the controllers
// and cards of the database. Each takes what it needs and returns its
// outcome; refused input throws Refused (or RowsRefused), a database or local
// file failure StoreError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "fleet/outcome.h"
#include "store/store.h"

namespace doorlinkd {

struct ControllerAddArgs {
    std::string name, address, mac;
    std::optional<int> number;
    bool reuseNumber = false;  // the number may be a retired one (it then leaves the retired numbers)
    bool longRecords = false;
    bool noPhotos = false;
    bool lossy = false;
    // None: the only site, when there is exactly one.
    std::optional<std::string> site;
};
Outcome controller_add(Store& store, const ControllerAddArgs& args);
Outcome controller_list(Store& store);
Outcome controller_remove(Store& store, const std::string& name);
// What a change of a controller changes; what is not given stays.
struct ControllerChange {
    std::optional<std::string> site;  // moved to another site
    std::optional<bool> lossy;
};
// NotFound when the controller or the site is unknown; Refused when nothing
// is to change.
Outcome controller_set(Store& store, const std::string& name, const ControllerChange& change);
// What changed, as an audit entry's detail ("site berlin, lossy").
std::string change_detail(const ControllerChange& change);

Outcome site_add(Store& store, const Site& site);
Outcome site_list(Store& store);
// What is given changes; NotFound when the site is unknown.
Outcome site_set(Store& store, const std::string& name, const std::optional<std::string>& zone,
                 const std::optional<std::string>& description);
Outcome site_remove(Store& store, const std::string& name);

// The controllers named (all when none is); NotFound for an unknown name.
std::vector<Controller> chosen_controllers(Store& store, const std::vector<std::string>& names);

Outcome card_import(Store& store, const std::string& file, bool replace);
// The same of a CSV text; source (a file name, or "") begins its messages.
Outcome card_import_text(Store& store, const std::string& text, const std::string& source, bool replace);
// Every card into a CSV file that only its owner may read: it holds the PINs.
Outcome card_export(Store& store, const std::string& file);
// given: the options given (nullopt: not given); given[0] is the card.
// The options not given keep the card's values.
Outcome card_set(Store& store, const CardFields& given);
// Adds or replaces the whole card, checked as a row of an import (fields not
// given take their defaults) and against the fleet rules.
// Its line says what changed: "added card C", or "updated card C: serial,
// monday; PIN changed" (the PIN's values are never written out).
Outcome card_put(Store& store, const CardFields& fields);
// The columns that differ, "PIN changed" for the password; "no change".
std::string card_changes(const Card& before, const Card& after);
Outcome card_remove(Store& store, const std::string& card);

}  // namespace doorlinkd
