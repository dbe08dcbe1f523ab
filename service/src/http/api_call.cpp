#include "http/api_call.h"

#include "cards/card_rules.h"
#include "model/controller.h"

namespace doorlinkd {
namespace {

// 18 digits at most: every such number fits in 64 bits.
std::optional<int64_t> decimal(const std::string& text) {
    if (text.empty() || text.size() > 18 || !all_digits(text)) return std::nullopt;
    return std::stoll(text);
}

}  // namespace

std::string json_text(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

void reply(Call& call, int status, const Json& json) {
    call.response.status = status;
    call.response.set_content(json_text(json), "application/json");
}

void reply_error(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(json_text(Json{{"error", message}}), "application/json");
}

Json body_object(const Call& call) {
    const std::string& body = call.request.body;
    if (body.size() > kMaxJsonBody) {
        throw HttpError(413, "the body has " + std::to_string(body.size()) + " bytes; at most " +
                                 std::to_string(kMaxJsonBody) + " for JSON");
    }
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) return Json::object();
    Json json = Json::parse(body, nullptr, false);
    if (json.is_discarded()) throw HttpError(400, "the body is not JSON");
    if (!json.is_object()) throw HttpError(400, "the body is not a JSON object");
    return json;
}

int64_t query_number(const Call& call, const std::string& name, int64_t fallback, int64_t min, int64_t max) {
    if (!call.request.has_param(name)) return fallback;
    const std::optional<int64_t> value = decimal(call.request.get_param_value(name));
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

bool is_printable_utf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f) return false;
            ++i;
            continue;
        }
        // The sequence's length and the least value it may encode (no
        // overlong forms, no surrogates).
        const size_t length = c >= 0xf0 && c <= 0xf4   ? 4
                              : c >= 0xe0 && c <= 0xef ? 3
                              : c >= 0xc2 && c <= 0xdf ? 2
                                                       : 0;
        if (length == 0 || text.size() - i < length) return false;
        uint32_t value = c & (0x7fu >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            value = (value << 6) | (next & 0x3fu);
        }
        const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return false;
        i += length;
    }
    return true;
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

std::string controller_param(const Call& call) {
    const std::string& name = call.param("name");
    if (!is_controller_name(name)) throw HttpError(404, "no controller named " + name);
    return name;
}

std::string checked_controller_name(const std::string& name) {
    if (!is_controller_name(name)) {
        throw HttpError(400,
                        "\"" + name + "\" is not a controller name (1 to 32 letters, digits, '-', '_', '.')");
    }
    return name;
}

std::string checked_card_text(const std::string& text, const std::string& what) {
    const std::string problem = card_text_problem(text);
    if (!problem.empty()) throw HttpError(400, what + ": " + problem);
    return text;
}

}  // namespace doorlinkd
