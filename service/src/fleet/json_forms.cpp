#include "fleet/json_forms.h"

namespace doorlinkd {
namespace {

Json optional_text(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

}  // namespace

Json to_json(const Controller& c) {
    return Json{{"name", c.name},     {"address", c.address},  {"mac", c.mac},
                {"number", c.number}, {"long", c.longRecords}, {"photos", c.photos}};
}

Json to_json(const Card& card) {
    Json json{{"card", card.card},
              {"serial", card.serial},
              {"password", card.password},
              {"user_style", card.userStyle},
              {"open_style", card.openStyle}};
    for (int day = 0; day < kDays; ++day) json[kCardColumns[kFirstDayColumn + day]] = card.days[day];
    json["extra_cards"] = card.extraCards;
    json["controllers"] = card.controllers;
    return json;
}

Json to_json(const SyncResult& result) {
    Json drift = Json::array();
    for (const Drift& d : result.drift) {
        drift.push_back(Json{{"card", d.card},
                             {"field", d.field},
                             {"database", optional_text(d.database)},
                             {"controller", optional_text(d.controller)}});
    }
    Json json{{"name", result.controller},
              {"status", status_name(result.status)},
              {"cards", result.cards},
              {"drift", drift}};
    if (!result.message.empty()) json["message"] = result.message;
    return json;
}

Json to_json(const ArchiveResult& result) {
    Json json{{"name", result.controller},
              {"status", status_name(result.status)},
              {"records", result.records},
              {"photos", result.photos}};
    if (!result.message.empty()) json["message"] = result.message;
    return json;
}

Json to_json(const StoredRecord& record) {
    Json photo = nullptr;
    if (record.photo) {
        photo = Json{
            {"sha256", record.photo->sha256}, {"bytes", record.photo->bytes}, {"whole", record.photo->whole}};
    }
    return Json{
        {"controller", record.controller}, {"card", record.card}, {"time", record.time}, {"photo", photo}};
}

}  // namespace doorlinkd
