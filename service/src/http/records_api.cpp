// The routes of the archive's records and photos. Photos are addressed by
// their SHA-256, so a browser may keep them as long as it likes.
#include <algorithm>

#include "cards/card_rules.h"
#include "fleet/card_holders.h"
#include "fleet/json_forms.h"
#include "http/handlers.h"
#include "zones/instant_text.h"

namespace doorlinkd {
namespace {

// An instant (ISO 8601 with its offset or Z) or the older yyyymmddhhmmss,
// the record's own local time; 400 for anything else.
RecordBound time_param(const Call& call, const std::string& name) {
    std::string text = query_text(call, name);
    // A '+' of an offset that was not sent as %2B arrives as a blank, which
    // no valid form has.
    std::replace(text.begin(), text.end(), ' ', '+');
    return record_bound(name, text);
}

bool is_sha256(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

void list_records(Services& services, Call& call) {
    RecordQuery query;
    query.controller = query_text(call, "controller");
    if (!query.controller.empty()) checked_controller_name(query.controller);
    query.card = query_text(call, "card");
    if (!query.card.empty() && (query.card.size() != 8 || !all_digits(query.card))) {
        throw HttpError(400, "card: 8 digits");
    }
    query.since = time_param(call, "since");
    query.until = time_param(call, "until");
    const Paging page = paging(call);
    query.offset = page.offset;
    query.limit = page.limit;
    const Json list = records_json(services.store, services.store.records(query));
    reply(call, 200, Json{{"records", list}, {"total", services.store.count_records(query)}});
}

void get_photo(Services& services, Call& call) {
    const std::string& sha256 = call.param("sha256");
    if (!is_sha256(sha256)) throw NotFound("no photo " + sha256);
    const std::string tag = "\"" + sha256 + "\"";
    if (call.request.get_header_value("If-None-Match").find(tag) != std::string::npos) {
        call.response.status = 304;
    } else {
        const std::optional<Photo> photo = services.store.photo(sha256);
        if (!photo) throw NotFound("no photo " + sha256);
        call.response.set_content(reinterpret_cast<const char*>(photo->bytes.data()), photo->bytes.size(),
                                  "image/jpeg");
    }
    call.response.set_header("ETag", tag);
    call.response.set_header("Cache-Control", "private, max-age=31536000, immutable");
}

}  // namespace doorlinkd
