#include "http/request_forms.h"

#include <algorithm>

#include "cards/card_rules.h"
#include "model/controller.h"

namespace doorlinkd {
namespace {

std::string column_list() {
    std::string list;
    for (const char* column : kCardColumns) list += (list.empty() ? "" : ", ") + std::string(column);
    return list;
}

// A field's text as a CSV cell would hold it: texts as they are, whole
// numbers written out, lists joined by spaces; null is a field not given.
std::optional<std::string> field_text(const std::string& column, const Json& value) {
    if (value.is_null()) return std::nullopt;
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return value.dump();
    if (value.is_array()) {
        std::vector<std::string> words;
        for (const Json& item : value) {
            if (!item.is_string()) throw HttpError(400, column + ": an array of texts");
            words.push_back(item.get<std::string>());
        }
        return join_words(words);
    }
    throw HttpError(400, column + ": a text, a whole number or an array of texts");
}

}  // namespace

const Json* body_field(const Json& body, const char* key, Json::value_t type, const char* typeName,
                       bool required) {
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) {
        if (required) throw HttpError(400, std::string(key) + ": required");
        return nullptr;
    }
    const bool integer = type == Json::value_t::number_integer && it->is_number_integer();
    if (!integer && it->type() != type) throw HttpError(400, std::string(key) + ": " + typeName);
    return &*it;
}

void require_known_fields(const Json& body, const std::vector<std::string>& known) {
    for (const auto& item : body.items()) {
        if (std::find(known.begin(), known.end(), item.key()) != known.end()) continue;
        std::string list;
        for (size_t i = 0; i < known.size(); ++i) {
            list += (i == 0 ? "" : i + 1 == known.size() ? " and " : ", ") + known[i];
        }
        throw HttpError(400, "unknown field " + item.key() + "; the fields are " + list);
    }
}

std::optional<std::string> optional_text_field(const Json& body, const char* key) {
    const Json* value = body_field(body, key, Json::value_t::string, "a text", false);
    return value ? std::optional<std::string>(value->get<std::string>()) : std::nullopt;
}

std::optional<bool> optional_flag_field(const Json& body, const char* key) {
    const Json* value = body_field(body, key, Json::value_t::boolean, "true or false", false);
    return value ? std::optional<bool>(value->get<bool>()) : std::nullopt;
}

Json json_body(const std::string& body) {
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

CardFields card_fields_of_body(const Json& body, const std::string& card) {
    CardFields fields;
    for (const auto& item : body.items()) {
        const auto column = std::find_if(kCardColumns.begin(), kCardColumns.end(),
                                         [&](const char* name) { return item.key() == name; });
        if (column == kCardColumns.end()) {
            throw HttpError(400, "unknown field " + item.key() + "; the fields are " + column_list());
        }
        fields[static_cast<size_t>(column - kCardColumns.begin())] = field_text(item.key(), item.value());
    }
    if (const std::optional<std::string>& given = fields[kCardColumn]; given && *given != card) {
        throw HttpError(400, "card: the body's " + *given + " is not the path's " + card);
    }
    fields[kCardColumn] = card;
    return fields;
}

ControllerAddArgs controller_of_body(const Json& body) {
    require_known_fields(
        body, {"name", "address", "mac", "number", "reuse_number", "long", "photos", "lossy", "site"});
    using Type = Json::value_t;
    ControllerAddArgs args;
    args.name = body_field(body, "name", Type::string, "a text", true)->get<std::string>();
    args.address = body_field(body, "address", Type::string, "a text", true)->get<std::string>();
    args.mac = body_field(body, "mac", Type::string, "a text", true)->get<std::string>();
    if (const Json* number = body_field(body, "number", Type::number_integer, "a whole number", false)) {
        if (!number->is_number_integer() || number->get<int64_t>() < 0 || number->get<int64_t>() > 999) {
            throw HttpError(400, "number: 0 to 999");
        }
        args.number = number->get<int>();
    }
    args.reuseNumber = optional_flag_field(body, "reuse_number").value_or(false);
    args.longRecords = optional_flag_field(body, "long").value_or(false);
    args.noPhotos = !optional_flag_field(body, "photos").value_or(true);
    args.lossy = optional_flag_field(body, "lossy").value_or(false);
    args.site = optional_text_field(body, "site");
    return args;
}

ControllerChange controller_change_of_body(const Json& body) {
    require_known_fields(body, {"site", "lossy"});
    return ControllerChange{optional_text_field(body, "site"), optional_flag_field(body, "lossy")};
}

std::vector<std::string> controller_names_of_body(const Json& body) {
    std::vector<std::string> names;
    for (const auto& item : body.items()) {
        if (item.key() != "controllers")
            throw HttpError(400, "unknown field " + item.key() + "; only controllers");
        if (!item.value().is_array()) throw HttpError(400, "controllers: an array of controller names");
        for (const Json& name : item.value()) {
            if (!name.is_string()) throw HttpError(400, "controllers: an array of controller names");
            names.push_back(checked_controller_name(name.get<std::string>()));
        }
    }
    return names;
}

Site site_of_body(const Json& body) {
    require_known_fields(body, {"name", "zone", "description"});
    Site site;
    site.name = body_field(body, "name", Json::value_t::string, "a text", true)->get<std::string>();
    site.zone = body_field(body, "zone", Json::value_t::string, "a text", true)->get<std::string>();
    site.description = optional_text_field(body, "description").value_or("");
    return site;
}

SiteChanges site_changes_of_body(const Json& body) {
    require_known_fields(body, {"zone", "description"});
    return SiteChanges{optional_text_field(body, "zone"), optional_text_field(body, "description")};
}

std::string site_path_name(const std::string& name) {
    if (!is_controller_name(name)) throw HttpError(404, "no site named " + name);
    return name;
}

std::string controller_path_name(const std::string& name) {
    if (!is_controller_name(name)) throw HttpError(404, "no controller named " + name);
    return name;
}

int64_t run_path_id(const std::string& text) {
    const std::optional<int64_t> id = decimal_number(text);
    if (!id) throw HttpError(404, "no run " + text);
    return *id;
}

int door_path_number(const std::string& door) {
    if (door.size() != 1 || door[0] < '0' || door[0] > '3') throw HttpError(400, "door " + door + ": 0 to 3");
    return door[0] - '0';
}

int64_t event_id_number(const std::string& text, const std::string& what) {
    const std::optional<int64_t> id = decimal_number(text);
    if (!id) throw HttpError(400, what + ": an event id");
    return *id;
}

std::optional<int64_t> decimal_number(const std::string& text) {
    if (text.empty() || text.size() > 18 || !all_digits(text)) return std::nullopt;
    return std::stoll(text);
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
