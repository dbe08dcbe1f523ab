#include "http/policy_forms.h"

#include <algorithm>

namespace doorlinkd {
namespace {

using Type = Json::value_t;

constexpr int64_t kMaxRevision = INT64_MAX / 2;

int64_t revision_of_body(const Json& body) {
    const Json* revision = body_field(body, "revision", Type::number_integer, "a whole number", true);
    if (!revision->is_number_integer() || revision->get<int64_t>() < 0 ||
        revision->get<int64_t>() > kMaxRevision) {
        throw HttpError(400, "revision: a whole number from 0");
    }
    return revision->get<int64_t>();
}

// The body's name of a value: to add, its own; to change, the path's, which
// the body may repeat.
std::string name_of(const Json& body, const char* key, const std::string& pathName, bool change) {
    if (!change) return body_field(body, key, Type::string, "a text", true)->get<std::string>();
    const std::optional<std::string> given = optional_text_field(body, key);
    if (given && *given != pathName) {
        throw HttpError(400, std::string(key) + ": the body's " + *given + " is not the path's " + pathName);
    }
    return pathName;
}

// The fields of a body: to change, the revision too.
std::vector<std::string> fields_of(std::vector<std::string> fields, bool change) {
    if (change) fields.emplace_back("revision");
    return fields;
}

std::vector<std::string> texts_of(const Json& body, const char* key) {
    const Json* array = body_field(body, key, Type::array, "an array of texts", false);
    std::vector<std::string> texts;
    if (array == nullptr) return texts;
    for (const Json& item : *array) {
        if (!item.is_string()) throw HttpError(400, std::string(key) + ": an array of texts");
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

// A text that may be cleared: null is "" (none), absent is not given.
std::optional<std::string> clearable_text(const Json& body, const char* key) {
    const auto it = body.find(key);
    if (it == body.end()) return std::nullopt;
    if (it->is_null()) return std::string();
    if (!it->is_string()) throw HttpError(400, std::string(key) + ": a text or null");
    return it->get<std::string>();
}

std::optional<int> style_of(const Json& body, const char* key) {
    const Json* style = body_field(body, key, Type::number_integer, "a whole number", false);
    if (style == nullptr) return std::nullopt;
    if (!style->is_number_integer() || style->get<int64_t>() < 0 || style->get<int64_t>() > 9) {
        throw HttpError(400, std::string(key) + ": a whole number from 0 to 9");
    }
    return style->get<int>();
}

std::vector<PersonCardArgs> cards_of(const Json& cards) {
    if (!cards.is_array()) throw HttpError(400, "cards: an array of {card, serial, pin?}");
    std::vector<PersonCardArgs> list;
    for (const Json& card : cards) {
        if (!card.is_object()) throw HttpError(400, "cards: an array of {card, serial, pin?}");
        require_known_fields(card, {"card", "serial", "pin"});
        PersonCardArgs args;
        args.card = body_field(card, "card", Type::string, "a text", true)->get<std::string>();
        args.serial = body_field(card, "serial", Type::string, "a text", true)->get<std::string>();
        args.pin = optional_text_field(card, "pin");
        list.push_back(std::move(args));
    }
    return list;
}

}  // namespace

PersonArgs person_of_body(const Json& body, const std::string& pathId, bool change) {
    require_known_fields(body, fields_of({"id", "name", "email", "notes", "active", "valid_from",
                                          "valid_until", "groups", "cards", "user_style", "open_style"},
                                         change));
    PersonArgs args;
    args.id = name_of(body, "id", pathId, change);
    if (!change) body_field(body, "name", Type::string, "a text", true);
    args.name = optional_text_field(body, "name");
    args.email = clearable_text(body, "email");
    args.notes = optional_text_field(body, "notes");
    if (const Json* active = body_field(body, "active", Type::boolean, "true or false", false)) {
        args.active = active->get<bool>();
    }
    args.validFrom = clearable_text(body, "valid_from");
    args.validUntil = clearable_text(body, "valid_until");
    if (body.contains("groups") && !body.at("groups").is_null()) {
        const std::vector<std::string> groups = texts_of(body, "groups");
        // Joined by blanks below: a name with one would become two.
        for (const std::string& group : groups) {
            if (split_words(group) != std::vector<std::string>{group}) {
                throw HttpError(400, "groups: names without blanks");
            }
        }
        args.groups = join_words(groups);
    }
    if (const Json* cards =
            body_field(body, "cards", Type::array, "an array of {card, serial, pin?}", false)) {
        args.cardList = cards_of(*cards);
    }
    args.userStyle = style_of(body, "user_style");
    args.openStyle = style_of(body, "open_style");
    if (change) args.revision = revision_of_body(body);
    return args;
}

ScheduleArgs schedule_of_body(const Json& body, const std::string& pathName, bool change) {
    require_known_fields(body, fields_of({"name", "days", "holidays"}, change));
    ScheduleArgs args;
    args.name = name_of(body, "name", pathName, change);
    if (const Json* days = body_field(body, "days", Type::array, "seven arrays of ranges", false)) {
        if (days->size() != static_cast<size_t>(kDays)) {
            throw HttpError(400, "days: seven arrays of ranges \"07:00-19:00\", Sunday first");
        }
        for (size_t day = 0; day < static_cast<size_t>(kDays); ++day) {
            const Json& ranges = days->at(day);
            if (!ranges.is_array()) throw HttpError(400, "days: seven arrays of ranges \"07:00-19:00\"");
            std::string text;
            for (const Json& range : ranges) {
                if (!range.is_string()) throw HttpError(400, "days: seven arrays of ranges \"07:00-19:00\"");
                text += (text.empty() ? "" : ",") + range.get<std::string>();
            }
            args.days.at(day) = text;
        }
    }
    args.holidays = optional_text_field(body, "holidays");
    if (change) args.revision = revision_of_body(body);
    return args;
}

GroupArgs group_of_body(const Json& body, const std::string& pathName, bool change) {
    require_known_fields(body, fields_of({"name", "grants"}, change));
    GroupArgs args;
    args.name = name_of(body, "name", pathName, change);
    if (body.contains("grants") && !body.at("grants").is_null()) args.grants = texts_of(body, "grants");
    if (change) args.revision = revision_of_body(body);
    return args;
}

HolidayArgs holiday_of_body(const Json& body) {
    require_known_fields(body, {"site", "date", "yearly"});
    HolidayArgs args;
    args.site = body_field(body, "site", Type::string, "a text", true)->get<std::string>();
    args.date = body_field(body, "date", Type::string, "a text", true)->get<std::string>();
    if (const Json* yearly = body_field(body, "yearly", Type::boolean, "true or false", false)) {
        args.yearly = yearly->get<bool>();
    }
    return args;
}

HolidayArgs holiday_change_of_body(const Json& body, const std::string& site, const std::string& date) {
    require_known_fields(body, {"yearly", "revision"});
    HolidayArgs args{site, date, std::nullopt, revision_of_body(body)};
    if (const Json* yearly = body_field(body, "yearly", Type::boolean, "true or false", false)) {
        args.yearly = yearly->get<bool>();
    }
    return args;
}

int64_t revision_of_query(bool given, const std::string& text) {
    if (!given) throw HttpError(400, "revision: required, the value's revision as listed");
    const std::optional<int64_t> revision = decimal_number(text);
    if (!revision) throw HttpError(400, "revision: a whole number from 0");
    return *revision;
}

}  // namespace doorlinkd
