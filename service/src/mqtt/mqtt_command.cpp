#include "mqtt/mqtt_command.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace doorlinkd {
namespace {

// Longer response topics are not used: a reply goes to the default topic.
constexpr size_t kMaxTopicLength = 1024;

// "doorlink/<controller>/cmd/<verb>": true with the two filled in.
bool split_topic(const std::string& topic, std::string& controller, std::string& verb) {
    const std::string prefix = "doorlink/";
    if (topic.compare(0, prefix.size(), prefix) != 0) return false;
    const size_t slash = topic.find('/', prefix.size());
    if (slash == std::string::npos || topic.compare(slash, 5, "/cmd/") != 0) return false;
    controller = topic.substr(prefix.size(), slash - prefix.size());
    verb = topic.substr(slash + 5);
    return !controller.empty() && !verb.empty() && verb.find('/') == std::string::npos;
}

// 1 to 64 characters (the JSON parser takes only UTF-8), none of them a
// control character: the id is stored, compared and echoed as it came, and
// PostgreSQL would end it at a NUL.
bool is_command_id(const std::string& id) {
    size_t characters = 0;
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
        if ((byte & 0xC0) != 0x80) ++characters;
    }
    return characters >= 1 && characters <= 64;
}

// The payload's fields into command; the refusal when they are not a
// valid command of its verb.
std::string read_fields(const nlohmann::json& payload, int64_t nowSeconds, MqttCommand& command) {
    if (!payload.is_object()) return "the payload is not a JSON object";
    const auto id = payload.find("id");
    if (id == payload.end() || !id->is_string() || !is_command_id(id->get<std::string>())) {
        return "\"id\" must be a text of 1 to 64 characters, none a control character";
    }
    command.id = id->get<std::string>();
    const auto time = payload.find("time");
    if (time == payload.end() || !time->is_number()) return "\"time\" must be a number of Unix seconds";
    const double skew = time->get<double>() - static_cast<double>(nowSeconds);
    if (skew < -static_cast<double>(kCommandSkewSeconds)) return "the command is stale";
    if (skew > static_cast<double>(kCommandSkewSeconds)) return "the command's time is in the future";
    if (command.verb == "open") {
        const auto door = payload.find("door");
        if (door == payload.end() || !door->is_number_integer() || door->get<int64_t>() < 0 ||
            door->get<int64_t>() > 3) {
            return "\"door\" must be 0, 1, 2 or 3";
        }
        command.door = static_cast<int>(door->get<int64_t>());
    }
    return "";
}

}  // namespace

MqttCommand check_command(const std::string& topic, const std::string& payload, bool retained,
                          int64_t nowSeconds) {
    MqttCommand command;
    if (!split_topic(topic, command.controller, command.verb)) {
        command.controller.clear();
        command.refusal = "not a command topic";
        return command;
    }
    const auto json = nlohmann::json::parse(payload, nullptr, false);
    std::string refusal =
        json.is_discarded() ? "the payload is not JSON" : read_fields(json, nowSeconds, command);
    if (command.verb != "open" && command.verb != "time" && command.verb != "sync") {
        refusal = "unknown command " + command.verb;
    }
    // Checked last so that it wins: a retained command is old by nature.
    if (retained) refusal = "a retained command is never acted on";
    command.refusal = refusal;
    return command;
}

std::string answer_topic(const std::string& responseTopic, const std::string& controller,
                         const std::string& replyPrefix) {
    const std::string reply = controller.empty() ? "" : "doorlink/" + controller + "/reply";
    const bool underPrefix = !replyPrefix.empty() && responseTopic.size() > replyPrefix.size() &&
                             responseTopic.size() <= kMaxTopicLength &&
                             responseTopic.compare(0, replyPrefix.size(), replyPrefix) == 0 &&
                             responseTopic.find_first_of(std::string("+#\0", 3)) == std::string::npos;
    return underPrefix ? responseTopic : reply;
}

std::string reply_prefix_problem(const std::string& prefix) {
    if (prefix.size() < 2 || prefix.back() != '/') return "a topic prefix ending in '/'";
    if (prefix.size() > kMaxTopicLength / 2)
        return "at most " + std::to_string(kMaxTopicLength / 2) + " bytes";
    if (prefix.find_first_of(std::string("+#\0", 3)) != std::string::npos) return "no wildcard (+, #)";
    if (prefix.front() == '$') return "not under the broker's $ topics";
    if (prefix.rfind("doorlink/", 0) == 0) return "not under doorlink/, the service's own topics";
    return "";
}

}  // namespace doorlinkd
