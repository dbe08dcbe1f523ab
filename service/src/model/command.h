// An MQTT command as the instances share it: what was heard, what came of
// it, and how that is answered and audited. Every instance stores the
// commands it hears in the database; the instance that holds the
// controller's lease runs each (see mqtt/command_runner.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/access.h"

namespace doorlinkd {

// What came of a command.
struct CommandOutcome {
    std::string result = "ok";  // "ok", "refused", "failed"
    std::string error;          // "" when ok
    int64_t run = 0;            // a sync's run; 0: none
};

// A command as the instance that heard it stores it.
struct HeardCommand {
    std::string id;          // "" when the payload had no valid id
    std::string controller;  // from the topic
    std::string verb;        // from the topic
    int door = -1;           // open's door
    // Tells one publish from another of the same id: the SHA-256 of the
    // topic, payload, retained flag and MQTT 5 properties.
    std::string fingerprint;
    std::string answerTopic;  // "" when there is nowhere to answer
    std::optional<std::string> correlation;
    int64_t ageMs = 0;    // since it was heard, by the hearer's clock
    std::string refusal;  // why it must not be run (found by the hearer); "" when it may be
};

// A command taken up to run by the holder of its controller's lease.
struct ClaimedCommand {
    std::string id;
    std::string controller;
    std::string verb;
    int door = -1;
    int64_t ageMs = 0;  // since it was heard, when it was taken up
};

// A command that nobody will answer unless it is answered for them: one
// waiting for a controller whose lease nobody holds, or one whose runner
// lost the lease (died) while it ran.
struct StrandedCommand {
    std::string id;
    std::string controller;
    std::string runner;  // "" while waiting
    int64_t ageMs = 0;
};

// The answer to a command: {"id", "result", "error"} and, when given, "run".
// id null when the command had none; error null when result is "ok".
std::string command_answer(const std::string& id, const std::string& result, const std::string& error,
                           int64_t run = 0);

// The audit entry of a command: who "mqtt", action "mqtt cmd/<verb>", the
// controller as target, the result ("ok" or "<result>: <error>") and the id
// as detail.
AuditEntry command_audit(const std::string& id, const std::string& controller, const std::string& verb,
                         const CommandOutcome& outcome);

}  // namespace doorlinkd
