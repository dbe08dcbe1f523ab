// What the REST API's handlers share: the service's parts, one call's
// request and answer, the error that ends a call with a status, and the
// readers of its parameters, which refuse bad input with 400 before any of
// it reaches the store or a controller.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "fleet/event_hub.h"
#include "fleet/fleet.h"
#include "fleet/metrics.h"
#include "fleet/outcome.h"
#include "http/http_options.h"
#include "model/access.h"
#include "store/store.h"

namespace doorlinkd {

// Event streams open at once, at most a given number: each holds a worker
// for as long as it lasts, so the rest are kept for requests.
class StreamSlots {
public:
    explicit StreamSlots(int max) : max_(max) {}
    bool take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_ >= max_) return false;
        ++open_;
        return true;
    }
    void give_back() {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
    }

private:
    std::mutex mutex_;
    int max_;
    int open_ = 0;
};

struct Services {
    Store& store;
    Fleet& fleet;
    EventHub& hub;
    Metrics& metrics;
    const HttpOptions& options;
    StreamSlots& streams;
    const std::atomic<bool>& stopping;  // set when the server stops: streams end
};

// Ends a call with this status and {"error": message}.
class HttpError : public std::runtime_error {
public:
    HttpError(int status, const std::string& message, int retryAfter = 0)
        : std::runtime_error(message), status_(status), retryAfter_(retryAfter) {}
    int status() const { return status_; }
    int retry_after() const { return retryAfter_; }  // seconds; 0: no Retry-After

private:
    int status_;
    int retryAfter_;
};

struct Call {
    Call(const httplib::Request& request_, httplib::Response& response_)
        : request(request_), response(response_), actor{"", request_.remote_addr} {}

    const httplib::Request& request;
    httplib::Response& response;
    std::map<std::string, std::string> params;  // the path's {name} parts
    Actor actor;                                // the token's name and the address
    Role role = Role::Viewer;
    bool authenticated = false;
    std::string target;  // what the audit names: a controller, a card, a run
    std::string detail;

    const std::string& param(const std::string& name) const { return params.at(name); }
};

// JSON text that never throws: bytes that are not UTF-8 (echoed input) are
// replaced.
std::string json_text(const Json& json);
void reply(Call& call, int status, const Json& json);
void reply_error(httplib::Response& response, int status, const std::string& message);

// The body as a JSON object (an empty body is an empty object); 400 for
// anything else, 413 past kMaxJsonBody.
constexpr size_t kMaxJsonBody = size_t{64} * 1024;
Json body_object(const Call& call);

// Query parameters: absent gives the default; present and bad is 400.
int64_t query_number(const Call& call, const std::string& name, int64_t fallback, int64_t min, int64_t max);
bool query_flag(const Call& call, const std::string& name);
// Printable UTF-8 of at most maxLength bytes.
std::string query_text(const Call& call, const std::string& name, size_t maxLength = 100);

struct Paging {
    int offset = 0;
    int limit = 50;
};
constexpr int kMaxPage = 500;
Paging paging(const Call& call);

// Checked parts: 400 (query, body) or 404 (path) when not of their form.
std::string controller_param(const Call& call);  // {name}
std::string checked_controller_name(const std::string& name);
std::string checked_card_text(const std::string& text, const std::string& what);

bool is_printable_utf8(const std::string& text);

}  // namespace doorlinkd
