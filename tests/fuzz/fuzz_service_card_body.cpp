// PUT /api/v1/cards/{card}: the path's card and the JSON body, read as the
// handler reads them (json_body, card_fields_of_body) and checked as
// card_put checks them (card_from_fields, then the fleet rules against a
// small fixed fleet), without a database.
//   the path's card (a length byte), then the body.
// Only HttpError leaves the readers. A card accepted comes back the same
// from the JSON the API answers with, from the CSV the export writes, and
// from its own fields; the fleet rules refuse exactly its unknown
// controller names.
#include <set>
#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "cards/card_rules.h"
#include "fleet/json_forms.h"
#include "http/request_forms.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;
using doorlink::fuzz::card_fleet;

namespace {

// The card the answer's JSON gives when it is put again.
Card card_of_answer(const Card& card) {
    const std::string text = to_json(card, PinView::Shown).dump();  // throws on bytes that are not UTF-8
    std::vector<RowError> errors;
    const std::optional<Card> again =
        card_from_fields(card_fields_of_body(json_body(text), card.card), 0, errors);
    FUZZ_CHECK(again && errors.empty());
    return *again;
}

void check_fleet(const Card& card) {
    std::set<std::string> unknown;
    for (const std::string& name : card.controllers) {
        bool known = false;
        for (const Controller& c : card_fleet()) known = known || c.name == name;
        if (!known) unknown.insert(name);
    }
    RowErrors errors;
    check_fleet_rules({CardRow{0, card}}, {}, false, card_fleet(), errors);
    FUZZ_CHECK(errors.listed().size() == unknown.size() && errors.rows() == (unknown.empty() ? 0u : 1u));
    for (const RowError& e : errors.listed()) {
        FUZZ_CHECK(e.line == 0 && e.column == "controllers");
        FUZZ_CHECK(unknown.count(e.reason.substr(e.reason.rfind(' ') + 1)) == 1);
    }
}

void check_accepted(const Card& card) {
    FUZZ_CHECK(card_of_answer(card) == card);

    const std::vector<CardRow> rows = parse_card_csv(write_card_csv({card}));
    FUZZ_CHECK(rows.size() == 1 && rows[0].line == 2 && rows[0].card == card);

    std::vector<RowError> errors;
    const std::optional<Card> again = card_from_fields(fields_of(card), 0, errors);
    FUZZ_CHECK(again && *again == card && errors.empty());

    check_fleet(card);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const std::string path = in.text(16);
    const std::string body(reinterpret_cast<const char*>(in.rest()), in.remaining());
    CardFields fields;
    try {
        const std::string card = checked_card_text(path, "card");
        fields = card_fields_of_body(json_body(body), card);
        FUZZ_CHECK(fields[kCardColumn] == card);
    } catch (const HttpError& e) {
        FUZZ_CHECK((e.status() == 400 || e.status() == 413) && *e.what() != '\0');
        return 0;
    }
    std::vector<RowError> errors;
    const std::optional<Card> card = card_from_fields(fields, 0, errors);
    FUZZ_CHECK(card.has_value() == errors.empty());
    for (const RowError& e : errors) FUZZ_CHECK(e.line == 0 && !e.column.empty() && !e.reason.empty());
    if (card) {
        FUZZ_CHECK(card->card == *fields[kCardColumn]);
        check_accepted(*card);
    }
    return 0;
}
