// MQTT commands as the command worker takes them: the topic, the payload
// and the retained flag (check_command), the topic of the answer
// (answer_topic) and the answer itself (command_answer).
//   flags byte (bit 0: retained), the topic and the request's response
//   topic (a length byte each), then the payload.
// Nothing throws. A topic that is no command's is refused as such and
// names no controller; a command acted on is a fresh, unretained one of a
// known verb on doorlink/<controller>/cmd/<verb> with an id of 1 to 64
// characters, none a control character (and open's door 0 to 3); a bad id
// is refused as such only when it is bad; the answer is JSON with the id, and
// goes only to the controller's reply topic or under the configured prefix.
#include <nlohmann/json.hpp>

#include <string>

#include "mqtt/mqtt_command.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

constexpr int64_t kNow = 1700000000;

bool starts_with(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// Characters of a UTF-8 text (the JSON parser took only valid UTF-8).
size_t characters(const std::string& text) {
    size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

bool is_command_topic(const std::string& topic, std::string& controller, std::string& verb) {
    if (!starts_with(topic, "doorlink/")) return false;
    const size_t slash = topic.find('/', 9);
    if (slash == std::string::npos || topic.compare(slash, 5, "/cmd/") != 0) return false;
    controller = topic.substr(9, slash - 9);
    verb = topic.substr(slash + 5);
    return !controller.empty() && !verb.empty() && verb.find('/') == std::string::npos;
}

void check_acted_on(const MqttCommand& command, const std::string& payload) {
    const nlohmann::json json = nlohmann::json::parse(payload);
    FUZZ_CHECK(command.verb == "open" || command.verb == "time" || command.verb == "sync");
    FUZZ_CHECK(json.at("id") == command.id && characters(command.id) >= 1 && characters(command.id) <= 64);
    for (const char c : command.id) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    const double time = json.at("time").get<double>();
    FUZZ_CHECK(time >= kNow - kCommandSkewSeconds && time <= kNow + kCommandSkewSeconds);
    if (command.verb == "open") {
        FUZZ_CHECK(command.door >= 0 && command.door <= 3 && json.at("door") == command.door);
    }
}

// The refusal of a bad id is given for an id that is bad.
void check_id_refusal(const MqttCommand& command, const std::string& payload) {
    if (command.refusal.rfind("\"id\" must be", 0) != 0) return;
    const nlohmann::json json = nlohmann::json::parse(payload);
    const auto id = json.find("id");
    if (id == json.end() || !id->is_string()) return;
    const std::string text = id->get<std::string>();
    bool control = false;
    for (const char c : text) control = control || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    FUZZ_CHECK(control || characters(text) < 1 || characters(text) > 64);
}

void check_answer(const MqttCommand& command, const std::string& responseTopic) {
    // Only the controller's own reply topic, or one under the configured
    // prefix that a message can be published to; nowhere else.
    const std::string prefix = "clients/";
    const std::string topic = answer_topic(responseTopic, command.controller, prefix);
    if (starts_with(topic, prefix)) {
        FUZZ_CHECK(topic == responseTopic && topic.size() > prefix.size());
        FUZZ_CHECK(topic.find_first_of(std::string("+#\0", 3)) == std::string::npos);
    } else if (command.controller.empty()) {
        FUZZ_CHECK(topic.empty());
    } else {
        FUZZ_CHECK(topic == "doorlink/" + command.controller + "/reply");
    }
    FUZZ_CHECK(answer_topic(responseTopic, command.controller, "") ==
               (command.controller.empty() ? "" : "doorlink/" + command.controller + "/reply"));
    for (const char* result : {"ok", "refused", "failed"}) {
        const nlohmann::json answer =
            nlohmann::json::parse(command_answer(command.id, result, command.refusal, 7));
        FUZZ_CHECK(answer.at("result") == result && answer.at("run") == 7);
        FUZZ_CHECK(command.id.empty() ? answer.at("id").is_null() : answer.at("id").is_string());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const bool retained = (in.u8() & 1) != 0;
    const std::string topic = in.text();
    const std::string responseTopic = in.text();
    const std::string payload(reinterpret_cast<const char*>(in.rest()), in.remaining());

    const MqttCommand command = check_command(topic, payload, retained, kNow);
    std::string controller;
    std::string verb;
    if (!is_command_topic(topic, controller, verb)) {
        FUZZ_CHECK(command.refusal == "not a command topic" && command.controller.empty());
    } else {
        FUZZ_CHECK(command.controller == controller && command.verb == verb);
        FUZZ_CHECK(retained == (command.refusal == "a retained command is never acted on"));
        if (command.refusal.empty()) check_acted_on(command, payload);
        check_id_refusal(command, payload);
    }
    FUZZ_CHECK(!command.refusal.empty() || !command.id.empty());
    check_answer(command, responseTopic);
    return 0;
}
