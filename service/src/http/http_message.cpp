#include "http/http_message.h"

#include <algorithm>
#include <cctype>

#include "common/percent_decoding.h"

namespace doorlinkd {
namespace {

template <typename Map>
std::string first_value(const Map& map, const std::string& name) {
    const auto it = map.find(name);
    return it == map.end() ? "" : it->second;
}

}  // namespace

bool Caseless::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

std::string HttpRequest::get_header_value(const std::string& name) const {
    return first_value(headers, name);
}

std::string HttpRequest::get_param_value(const std::string& name) const { return first_value(params, name); }

void HttpResponse::set_header(const std::string& name, const std::string& value) {
    headers.erase(name);
    headers.emplace(name, value);
}

void HttpResponse::set_content(std::string content, const std::string& type) {
    body = std::move(content);
    set_header("Content-Type", type);
}

std::multimap<std::string, std::string> query_params(const std::string& query) {
    std::multimap<std::string, std::string> params;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            params.emplace(percent_decoded(pair.substr(0, equals), true),
                           equals == std::string::npos ? "" : percent_decoded(pair.substr(equals + 1), true));
        }
        start = end + 1;
    }
    return params;
}

void split_target(const std::string& target, std::string& path,
                  std::multimap<std::string, std::string>& params) {
    const size_t question = target.find('?');
    path = percent_decoded(target.substr(0, question));
    params = question == std::string::npos ? std::multimap<std::string, std::string>{}
                                           : query_params(target.substr(question + 1));
}

}  // namespace doorlinkd
