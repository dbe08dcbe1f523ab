// One HTTP request and its answer as the handlers see them: texts and
// maps, with nothing of the server that read and writes them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace doorlinkd {

// Header names compare without regard to case.
struct Caseless {
    bool operator()(const std::string& a, const std::string& b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, Caseless>;

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: the path with its query
    std::string path;    // the target's path, %-decoded
    HttpHeaders headers;
    std::multimap<std::string, std::string> params;  // the query, decoded
    std::string body;
    std::string remote_addr;  // the peer's address

    // The first value of the header or query parameter; "" when absent.
    std::string get_header_value(const std::string& name) const;
    bool has_param(const std::string& name) const { return params.count(name) != 0; }
    std::string get_param_value(const std::string& name) const;
};

// An event stream the answer opens instead of a body: the events after
// `after`, of the controller and kind when given, for as long as the token
// stays valid.
struct StreamRequest {
    int64_t after = 0;
    std::string controller;
    std::string kind;
    std::string tokenHash;
};

struct HttpResponse {
    int status = 200;
    HttpHeaders headers;
    std::string body;
    bool streams = false;  // an event stream follows the headers
    StreamRequest stream;

    void set_header(const std::string& name, const std::string& value);
    bool has_header(const std::string& name) const { return headers.count(name) != 0; }
    void set_content(std::string content, const std::string& type);
    void set_content(const char* data, size_t size, const std::string& type) {
        set_content(std::string(data, size), type);
    }
};

// A target split at '?' into its %-decoded path and its query parameters
// ('+' a blank in the query only). A bad escape is kept as it stands.
void split_target(const std::string& target, std::string& path,
                  std::multimap<std::string, std::string>& params);

// The query's parameters: name=value pairs split at '&', %-decoded, '+' a
// blank.
std::multimap<std::string, std::string> query_params(const std::string& query);

}  // namespace doorlinkd
