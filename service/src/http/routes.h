// The REST API's one table of routes: the server registers its handlers
// from it and the OpenAPI document is written from it, so the two cannot
// differ.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "http/api_call.h"

namespace doorlinkd {

using Handler = void (*)(Services&, Call&);

struct Route {
    const char* method;        // GET, POST, PUT or DELETE
    const char* path;          // {name} stands for one segment
    std::optional<Role> role;  // the least role that may; none: no token needed
    const char* summary;
    Handler handler;
    const char* query = "";        // its query parameters, separated by commas
    const char* body = "";         // the request's media type, "" when none
    int status = 200;              // the status of success
    const char* description = "";  // more than the summary says, "" when nothing
    // The schema of a success's answer among the document's components, ""
    // when it is not described.
    const char* answer = "";
};

const std::vector<Route>& api_routes();

// Longer paths are refused before they are matched against the routes.
constexpr size_t kMaxPath = 2048;

// Paths here are as sent, still %-encoded: they are split at '/' before
// each segment is decoded.
// Whether the path matches the pattern, each {name} one segment that is
// not empty; the segments go to params by their names.
bool match_path(const std::string& pattern, const std::string& path,
                std::map<std::string, std::string>& params);
// The route of the method (HEAD looks for GET) whose pattern matches the
// path, with its path's parts; none when no route serves both.
const Route* find_route(const std::string& method, const std::string& path,
                        std::map<std::string, std::string>& params);
// The names of the pattern's {name} parts, in order.
std::vector<std::string> path_names(const std::string& path);

// The methods of the routes whose pattern the path matches, as an Allow
// header lists them ("" when no pattern matches).
std::string allowed_methods(const std::string& path);

}  // namespace doorlinkd
