// Route matching: a request's path, as the server has it once decoded
// (any bytes, at most kMaxPath of them), against the REST API's routes,
// checked against regular expressions written from the same patterns.
//   the whole input is the path.
// A route matches exactly when its expression matches the whole path, and
// then every {name} is the segment the expression captures, not empty and
// without '/'; find_route takes the first route of the method that
// matches; the Allow header lists exactly the methods of the routes that
// match, each once, HEAD after GET.
#include <regex>
#include <string>
#include <vector>

#include "http/routes.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

std::string pattern_regex(const std::string& path) {
    std::string regex;
    bool inName = false;
    for (char c : path) {
        if (inName) {
            inName = c != '}';
        } else if (c == '{') {
            regex += "([^/]+)";
            inName = true;
        } else {
            if (std::string("\\^$.|?*+()[]").find(c) != std::string::npos) regex += '\\';
            regex += c;
        }
    }
    return regex;
}

struct CompiledRoute {
    const Route* route;
    std::regex pattern;
    std::vector<std::string> names;
};

const std::vector<CompiledRoute>& compiled() {
    static const std::vector<CompiledRoute> routes = [] {
        std::vector<CompiledRoute> out;
        for (const Route& route : api_routes()) {
            out.push_back({&route, std::regex(pattern_regex(route.path)), path_names(route.path)});
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
    for (const CompiledRoute& compiledRoute : compiled()) {
        const Route& route = *compiledRoute.route;
        std::smatch match;
        std::map<std::string, std::string> params;
        const bool matched = std::regex_match(path, match, compiledRoute.pattern);
        FUZZ_CHECK(match_path(route.path, path, params) == matched);
        if (!matched) continue;
        FUZZ_CHECK(match.size() == compiledRoute.names.size() + 1 &&
                   params.size() == compiledRoute.names.size());
        for (size_t i = 1; i < match.size(); ++i) {
            FUZZ_CHECK(params[compiledRoute.names[i - 1]] == match[i].str());
            FUZZ_CHECK(match[i].length() > 0 && match[i].str().find('/') == std::string::npos);
        }
        const std::string method = route.method;
        std::map<std::string, std::string> found;
        const Route* first = find_route(method, path, found);
        FUZZ_CHECK(first != nullptr && std::string(first->method) == method);
        if (method == "GET") FUZZ_CHECK(find_route("HEAD", path, found) == first);
        if (expected.find(method) != std::string::npos) continue;
        expected += (expected.empty() ? "" : ", ") + method + (method == "GET" ? ", HEAD" : "");
    }
    FUZZ_CHECK(allowed_methods(path) == expected);
    return 0;
}
