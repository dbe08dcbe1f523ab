#include "http/openapi.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace doorlinkd {
namespace {

std::vector<std::string> comma_list(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

Json error_answer(const char* description) {
    return Json{{"description", description},
                {"content", {{"application/json", {{"schema", {{"$ref", "#/components/schemas/Error"}}}}}}}};
}

Json operation(const Route& route) {
    Json parameters = Json::array();
    for (const std::string& name : path_names(route.path)) {
        parameters.push_back(
            Json{{"name", name}, {"in", "path"}, {"required", true}, {"schema", {{"type", "string"}}}});
    }
    for (const std::string& name : comma_list(route.query)) {
        parameters.push_back(
            Json{{"name", name}, {"in", "query"}, {"required", false}, {"schema", {{"type", "string"}}}});
    }
    Json success{{"description", "success"}};
    if (*route.answer) {
        success["content"] = {
            {"application/json",
             {{"schema", {{"$ref", std::string("#/components/schemas/") + route.answer}}}}}};
    }
    Json answers{{std::to_string(route.status), success}, {"400", error_answer("bad input")}};
    if (route.role) {
        answers["401"] = error_answer("no valid token");
        answers["403"] = error_answer("the token's role may not");
        answers["429"] = error_answer("too many tokens that are not valid from this address");
    }
    answers["503"] = error_answer("the database does not answer");
    Json op{{"summary", route.summary},
            {"operationId", lower(route.method) + std::string(route.path)},
            {"parameters", parameters},
            {"responses", answers}};
    if (*route.description) op["description"] = route.description;
    if (*route.body) {
        op["requestBody"] = Json{{"required", std::string(route.body) == "text/csv"},
                                 {"content", {{route.body, {{"schema", {{"type", "object"}}}}}}}};
        if (std::string(route.body) == "text/csv") {
            op["requestBody"]["content"][route.body]["schema"] = Json{{"type", "string"}};
        }
    }
    if (route.role) {
        op["security"] = Json::array({Json{{"bearer", Json::array()}}});
        op["x-role"] = role_name(*route.role);
    } else {
        op["security"] = Json::array();
    }
    return op;
}

// A page of stored records, as GET /api/v1/records answers.
Json records_schema() {
    const Json text{{"type", "string"}};
    Json record{
        {"type", "object"},
        {"properties",
         {{"controller", text},
          {"card", text},
          {"time", {{"type", "string"}, {"description", "the controller's own local time, yyyymmddhhmmss"}}},
          {"photo",
           {{"type", "object"},
            {"nullable", true},
            {"properties",
             {{"sha256", text}, {"bytes", {{"type", "integer"}}}, {"whole", {{"type", "boolean"}}}}}}},
          {"instant",
           {{"type", "string"},
            {"format", "date-time"},
            {"description", "the instant time stands for in zone, ISO 8601 UTC (2026-12-08T08:00:00Z)"}}},
          {"site", {{"type", "string"}, {"description", "the controller's site; empty when it was gone"}}},
          {"zone", {{"type", "string"}, {"description", "the IANA zone time was read in"}}},
          {"local_kind",
           {{"type", "string"},
            {"enum", {"exact", "ambiguous", "nonexistent", "invalid"}},
            {"description",
             "ambiguous: time occurs twice (the clocks went back), instant is the earlier; nonexistent: "
             "time falls in a gap (the clocks went forward), instant is where the gap ends; invalid: time "
             "is no date and time, instant is when the record was archived"}}},
          {"person",
           {{"type", "object"},
            {"nullable", true},
            {"properties", {{"id", text}, {"name", {{"type", "string"}, {"nullable", true}}}}},
            {"description",
             "the person whose card it was when it was archived, with their name (null: removed since); "
             "null: no one's"}}},
          {"person_erased",
           {{"type", "boolean"},
            {"description",
             "present and true when that person was erased since: the record keeps the card"}}}}}};
    return Json{
        {"type", "object"},
        {"properties",
         {{"records", {{"type", "array"}, {"items", record}}},
          {"total", {{"type", "integer"}, {"description", "records the query matches, pages aside"}}}}}};
}

}  // namespace

Json openapi_document(const std::vector<Route>& routes) {
    Json paths = Json::object();
    for (const Route& route : routes) paths[route.path][lower(route.method)] = operation(route);
    return Json{
        {"openapi", "3.0.3"},
        {"info",
         {{"title", "doorlinkd"},
          {"version", DOORLINK_VERSION},
          {"description",
           "The fleet service's REST API. Every operation but /health needs a token: "
           "Authorization: Bearer TOKEN. Roles: viewer reads; operator also opens doors, sets clocks, "
           "edits cards, controllers and the policy (people, groups, schedules, holidays; a PIN is set, "
           "never "
           "read) and starts syncs and archives; admin also reads the audit."}}},
        {"paths", paths},
        {"components",
         {{"securitySchemes", {{"bearer", {{"type", "http"}, {"scheme", "bearer"}}}}},
          {"schemas",
           {{"Error",
             {{"type", "object"},
              {"required", {"error"}},
              {"properties", {{"error", {{"type", "string"}}}}}}},
            {"Records", records_schema()}}}}},
        {"security", Json::array({Json{{"bearer", Json::array()}}})},
    };
}

}  // namespace doorlinkd
