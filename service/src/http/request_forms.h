// What a request brings, read into the service's values: the JSON bodies of
// the REST API, the parts of its paths and the event ids of a stream. Each
// reader refuses input not of its form with an HttpError (400; 404 for a
// path's part that names nothing) before any of it reaches the store or a
// controller. Nothing here needs the HTTP server, so the fuzz targets run
// exactly what the handlers run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "fleet/operations.h"
#include "fleet/outcome.h"
#include "http/http_error.h"

namespace doorlinkd {

// A body as a JSON object (blank is an empty object); 400 for anything
// else, 413 past kMaxJsonBody bytes.
constexpr std::size_t kMaxJsonBody = std::size_t{64} * 1024;
Json json_body(const std::string& body);

// The body's field key, of the type given (typeName names it for the
// error); none when absent or null, unless required (400).
const Json* body_field(const Json& body, const char* key, Json::value_t type, const char* typeName,
                       bool required);
std::optional<std::string> optional_text_field(const Json& body, const char* key);
std::optional<bool> optional_flag_field(const Json& body, const char* key);
// 400 for a key of the body that is none of the fields.
void require_known_fields(const Json& body, const std::vector<std::string>& known);

// A card's body, named as the CSV columns, into the fields a CSV row would
// hold (texts as they are, whole numbers written out, arrays of texts
// joined by spaces; null is a field not given). The body's card, when
// given, must be the path's, which the fields then name.
CardFields card_fields_of_body(const Json& body, const std::string& card);

// A controller's body {name, address, mac, number?, long?, photos?, lossy?,
// site?}: the fields of their types, number 0 to 999; the values themselves
// are controller_add's to check. A controller's changes {site?, lossy?}.
ControllerAddArgs controller_of_body(const Json& body);
ControllerChange controller_change_of_body(const Json& body);

// A new site's body {name, zone, description?}; a site's changes
// {zone?, description?}. The values are the store's to check.
Site site_of_body(const Json& body);
struct SiteChanges {
    std::optional<std::string> zone, description;
};
SiteChanges site_changes_of_body(const Json& body);
// {name} of a site (404 when not of a site name's form).
std::string site_path_name(const std::string& name);

// A run's body {"controllers": [names]}, or {}: every controller.
std::vector<std::string> controller_names_of_body(const Json& body);

// Path parts: {name} of a controller and {id} of a run (404 when not of
// their form), {door} of a door (0 to 3).
std::string controller_path_name(const std::string& name);
int64_t run_path_id(const std::string& text);
int door_path_number(const std::string& door);

// An event id as Last-Event-ID or after= give it: digits, 18 at most.
int64_t event_id_number(const std::string& text, const std::string& what);

// A number of at most 18 digits, so that every one fits in 64 bits; none for
// any other text.
std::optional<int64_t> decimal_number(const std::string& text);

// Checked texts (400): a controller name, a card (8 digits).
std::string checked_controller_name(const std::string& name);
std::string checked_card_text(const std::string& text, const std::string& what);

}  // namespace doorlinkd
