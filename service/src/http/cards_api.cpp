// The routes of the cards. A card's JSON is named as the CSV columns, with
// extra_cards and controllers as arrays of texts; one put whole is checked
// exactly as a row of an import, and an import is the CSV import itself.
#include <algorithm>

#include "cards/card_rules.h"
#include "fleet/json_forms.h"
#include "fleet/operations.h"
#include "http/handlers.h"

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

CardFields fields_of_body(const Json& body, const std::string& card) {
    CardFields fields;
    for (const auto& item : body.items()) {
        const auto column = std::find_if(kCardColumns.begin(), kCardColumns.end(),
                                         [&](const char* name) { return item.key() == name; });
        if (column == kCardColumns.end()) {
            throw HttpError(400, "unknown field " + item.key() + "; the fields are " + column_list());
        }
        fields[static_cast<size_t>(column - kCardColumns.begin())] = field_text(item.key(), item.value());
    }
    if (fields[kCardColumn] && *fields[kCardColumn] != card) {
        throw HttpError(400, "card: the body's " + *fields[kCardColumn] + " is not the path's " + card);
    }
    fields[kCardColumn] = card;
    return fields;
}

}  // namespace

void list_cards(Services& services, Call& call) {
    const std::string search = query_text(call, "search");
    const Paging page = paging(call);
    const Page<Card> cards = services.store.cards_page(search, page.offset, page.limit);
    Json list = Json::array();
    for (const Card& card : cards.items) list.push_back(to_json(card, pin_view(call)));
    reply(call, 200, Json{{"cards", list}, {"total", cards.total}});
}

void put_card(Services& services, Call& call) {
    const std::string card = checked_card_text(call.param("card"), "card");
    call.target = card;
    const Outcome outcome = card_put(services.store, fields_of_body(body_object(call), card));
    call.detail = outcome.lines.front();
    reply(call, 200, outcome.json);
}

void remove_card(Services& services, Call& call) {
    const std::string& card = call.param("card");
    call.target = card;
    if (!card_text_problem(card).empty() || !services.store.remove_card(card)) {
        throw NotFound("no card " + card);
    }
    reply(call, 200, Json{{"removed", card}});
}

void import_cards(Services& services, Call& call) {
    const bool replace = query_flag(call, "replace");
    if (replace) call.detail = "replace";
    const Outcome outcome = card_import_text(services.store, call.request.body, "", replace);
    call.detail += (call.detail.empty() ? "" : ": ") + outcome.lines.front();
    reply(call, 200, outcome.json);
}

void export_cards(Services& services, Call& call) {
    call.response.set_header("Content-Disposition", "attachment; filename=\"cards.csv\"");
    call.response.set_content(write_card_csv(services.store.cards()), "text/csv; charset=utf-8");
}

}  // namespace doorlinkd
