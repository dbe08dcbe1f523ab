// MQTT commands: a message on doorlink/<controller>/cmd/<verb> with a JSON
// payload {"id" (text, 1 to 64 characters, no control characters), "time"
// (Unix seconds), ...}.
// Verbs: "open" (with "door", 0..3), "time" (set the controller's clock to
// ours), "sync" (a sync of that controller). The checks here need nothing
// but the message and the time; a repeated id is the store's to find.
#pragma once

#include <cstdint>
#include <string>

#include "model/command.h"

namespace doorlinkd {

// How far a command's time may lie from ours, either way, in seconds; and
// how long after it was heard it may still be taken up to run.
constexpr int64_t kCommandSkewSeconds = 30;
// How long a command's id is remembered: longer than any span in which one
// message could be fresh (from kCommandSkewSeconds ahead to as far behind).
constexpr int64_t kCommandIdWindowMs = 4 * kCommandSkewSeconds * 1000;
// How long after it was heard an open may still be taken up to run: a door
// that opens later than that opens for nobody.
constexpr int64_t kOpenExpirySeconds = 10;

struct MqttCommand {
    std::string controller;  // from the topic; "" when the topic is no command's
    std::string verb;        // from the topic
    std::string id;          // "" when the payload has no valid id
    int door = -1;           // open's door
    std::string refusal;     // why it must not be acted on; "" when it may be
};

// Checks a message that came on topic: a retained one is never acted on,
// nor one whose payload is not a valid command of its verb, nor one whose
// time lies more than kCommandSkewSeconds from nowSeconds.
MqttCommand check_command(const std::string& topic, const std::string& payload, bool retained,
                          int64_t nowSeconds);

// Where a command's answer goes: "doorlink/<controller>/reply", or the
// request's MQTT 5 response topic when it is that topic or lies under
// replyPrefix (configured; "" allows none). Whoever may publish commands
// must not make the service publish, with its own credentials, wherever
// they like. "" when there is nowhere to answer: no controller, and no
// response topic that may be used.
std::string answer_topic(const std::string& responseTopic, const std::string& controller,
                         const std::string& replyPrefix);

// Why a prefix cannot be --mqtt-reply-prefix; "" when it can: it ends in
// '/', holds no wildcard, and lies outside the service's own doorlink/ and
// the broker's $ topics.
std::string reply_prefix_problem(const std::string& prefix);

}  // namespace doorlinkd
