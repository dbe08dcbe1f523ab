// The routes of the cards. A card's JSON is named as the CSV columns, with
// extra_cards and controllers as arrays of texts; one put whole is checked
// exactly as a row of an import, and an import is the CSV import itself.
#include "cards/card_rules.h"
#include "fleet/json_forms.h"
#include "fleet/operations.h"
#include "http/handlers.h"

namespace doorlinkd {

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
    const Outcome outcome = card_put(services.store, card_fields_of_body(body_object(call), card));
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
