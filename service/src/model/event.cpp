#include "model/event.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace doorlinkd {

std::string iso_time(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string event_json(const Event& event) {
    nlohmann::ordered_json out;
    out["id"] = event.id;
    out["at"] = iso_time(event.at);
    out["controller"] = event.controller;
    out["kind"] = event.kind;
    const auto data = nlohmann::ordered_json::parse(event.data, nullptr, false);
    if (data.is_object()) {
        for (const auto& [key, value] : data.items()) {
            if (!out.contains(key)) out[key] = value;
        }
    }
    return out.dump();
}

std::string event_topic(const Event& event) {
    const std::string base = "doorlink/" + event.controller + "/";
    if (event.kind == "sync") return base + "sync";
    if (event.kind == "status") return base + "status";
    return base + "event";
}

bool event_retained(const Event& event) { return event.kind == "status"; }

}  // namespace doorlinkd
