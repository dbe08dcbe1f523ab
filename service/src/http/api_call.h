// What the REST API's handlers share: the service's parts, one call's
// request and answer, the error that ends a call with a status, and the
// readers of its parameters, which refuse bad input with 400 before any of
// it reaches the store or a controller.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "fleet/event_hub.h"
#include "fleet/fleet.h"
#include "fleet/json_forms.h"
#include "fleet/metrics.h"
#include "fleet/outcome.h"
#include "http/http_message.h"
#include "http/http_options.h"
#include "http/request_forms.h"
#include "model/access.h"
#include "store/store.h"

namespace doorlinkd {

// Event streams open at once, at most a given number: each holds a socket
// and its buffers for as long as it lasts.
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
};

struct Call {
    Call(const HttpRequest& request_, HttpResponse& response_)
        : request(request_), response(response_), actor{"", request_.remote_addr} {}

    const HttpRequest& request;
    HttpResponse& response;
    std::map<std::string, std::string> params;  // the path's {name} parts
    Actor actor;                                // the token's name and the client's address
    Role role = Role::Viewer;
    bool authenticated = false;
    std::string tokenHash;  // of the token that authenticated the call
    std::string target;     // what the audit names: a controller, a card, a run
    std::string detail;

    const std::string& param(const std::string& name) const { return params.at(name); }
};

// JSON text that never throws: bytes that are not UTF-8 (echoed input) are
// replaced.
std::string json_text(const Json& json);
void reply(Call& call, int status, const Json& json);
void reply_error(HttpResponse& response, int status, const std::string& message);

// The body as a JSON object (json_body).
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

// The path's {name}: a controller name, else 404.
std::string controller_param(const Call& call);

// PINs go to those who may change them: operators and admins.
inline PinView pin_view(const Call& call) {
    return role_allows(call.role, Role::Operator) ? PinView::Shown : PinView::Hidden;
}

}  // namespace doorlinkd
