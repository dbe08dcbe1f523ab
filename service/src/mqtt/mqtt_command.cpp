#include "mqtt/mqtt_command.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace doorlinkd {
namespace {

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

// The payload's fields into command; the refusal when they are not a
// valid command of its verb.
std::string read_fields(const nlohmann::json& payload, int64_t nowSeconds, MqttCommand& command) {
    if (!payload.is_object()) return "the payload is not a JSON object";
    const auto id = payload.find("id");
    if (id == payload.end() || !id->is_string() || id->get<std::string>().empty() ||
        id->get<std::string>().size() > 64) {
        return "\"id\" must be a text of 1 to 64 characters";
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

std::string command_answer(const std::string& id, const std::string& result, const std::string& error,
                           int64_t run) {
    nlohmann::ordered_json answer;
    answer["id"] = id.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(id);
    answer["result"] = result;
    answer["error"] = error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(error);
    if (run != 0) answer["run"] = run;
    return answer.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// An answer must not pass for an event, a status or a command.
std::string answer_topic(const std::string& responseTopic, const std::string& controller) {
    std::string reply = "doorlink/" + controller + "/reply";
    if (responseTopic.empty()) return reply;
    const bool ownTopic = responseTopic.rfind("doorlink/", 0) == 0;
    const std::string suffix = "/reply";
    const bool replyTopic =
        responseTopic.size() > suffix.size() &&
        responseTopic.compare(responseTopic.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        responseTopic.find_first_of("+#") == std::string::npos;
    return ownTopic && !replyTopic ? reply : responseTopic;
}

}  // namespace doorlinkd
