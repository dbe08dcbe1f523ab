// Route matching: a request's path, as the server has it once decoded
// (any bytes, at most kMaxPath of them), against the REST API's routes:
// the regular expressions the server registers (path_regex, matched whole
// as the server matches them) and the Allow header of a 404
// (allowed_methods).
//   the whole input is the path.
// The Allow header lists exactly the methods of the routes whose
// expression matches, each once, HEAD after GET; every {name} a route
// captures is one segment, not empty.
#include <regex>
#include <string>
#include <vector>

#include "http/routes.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

struct CompiledRoute {
    std::string method;
    std::regex pattern;
    size_t names;
};

const std::vector<CompiledRoute>& compiled() {
    static const std::vector<CompiledRoute> routes = [] {
        std::vector<CompiledRoute> out;
        for (const Route& route : api_routes()) {
            out.push_back({route.method, std::regex(path_regex(route.path)), path_names(route.path).size()});
        }
        return out;
    }();
    return routes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxPath) return 0;  // refused before routing
    const std::string path(reinterpret_cast<const char*>(data), size);
    std::string expected;
    for (const CompiledRoute& route : compiled()) {
        std::smatch match;
        if (!std::regex_match(path, match, route.pattern)) continue;
        FUZZ_CHECK(match.size() == route.names + 1);
        for (size_t i = 1; i < match.size(); ++i) {
            FUZZ_CHECK(match[i].length() > 0 && match[i].str().find('/') == std::string::npos);
        }
        if (expected.find(route.method) != std::string::npos) continue;
        expected += (expected.empty() ? "" : ", ") + route.method + (route.method == "GET" ? ", HEAD" : "");
    }
    FUZZ_CHECK(allowed_methods(path) == expected);
    return 0;
}
