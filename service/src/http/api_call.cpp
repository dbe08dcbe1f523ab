#include "http/api_call.h"

#include "common/utf8.h"

namespace doorlinkd {

std::string json_text(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

void reply(Call& call, int status, const Json& json) {
    call.response.status = status;
    call.response.set_content(json_text(json), "application/json");
}

void reply_error(HttpResponse& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(json_text(Json{{"error", message}}), "application/json");
}

Json body_object(const Call& call) { return json_body(call.request.body); }

int64_t query_number(const Call& call, const std::string& name, int64_t fallback, int64_t min, int64_t max) {
    if (!call.request.has_param(name)) return fallback;
    const std::optional<int64_t> value = decimal_number(call.request.get_param_value(name));
    if (!value || *value < min || *value > max) {
        throw HttpError(400,
                        name + ": a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return *value;
}

bool query_flag(const Call& call, const std::string& name) {
    if (!call.request.has_param(name)) return false;
    const std::string value = call.request.get_param_value(name);
    if (value == "true" || value == "1") return true;
    if (value == "false" || value == "0") return false;
    throw HttpError(400, name + ": true or false");
}

std::string query_text(const Call& call, const std::string& name, size_t maxLength) {
    if (!call.request.has_param(name)) return {};
    std::string value = call.request.get_param_value(name);
    if (value.size() > maxLength || !is_printable_utf8(value)) {
        throw HttpError(400, name + ": printable text of at most " + std::to_string(maxLength) + " bytes");
    }
    return value;
}

Paging paging(const Call& call) {
    Paging page;
    page.offset = static_cast<int>(query_number(call, "offset", 0, 0, 1000000000));
    page.limit = static_cast<int>(query_number(call, "limit", page.limit, 1, kMaxPage));
    return page;
}

std::string controller_param(const Call& call) { return controller_path_name(call.param("name")); }

}  // namespace doorlinkd
