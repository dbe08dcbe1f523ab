#include "store/record_event.h"

#include <nlohmann/json.hpp>

namespace doorlinkd {

Event record_event(const IncomingRecord& record, const RecordStamp& stamp) {
    nlohmann::ordered_json data;
    data["card"] = record.card;
    data["time"] = readable_time(record.time);
    data["record_kind"] = record.kind;  // "kind" is the event's own
    if (record.photo) {
        data["sha256"] = record.photo->sha256;
        data["path"] = "/api/v1/photos/" + record.photo->sha256;
    } else {
        data["sha256"] = nullptr;
        data["path"] = nullptr;
    }
    put_stamp(data, stamp);
    Event event;
    event.controller = record.controller;
    event.kind = "record";
    event.data = data.dump();
    return event;
}

std::optional<std::string> photo_named_by(const std::string& data) {
    const auto json = nlohmann::json::parse(data, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    const auto found = json.find("sha256");
    if (found == json.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace doorlinkd
