#include "model/command.h"

#include <nlohmann/json.hpp>

namespace doorlinkd {

std::string command_answer(const std::string& id, const std::string& result, const std::string& error,
                           int64_t run) {
    nlohmann::ordered_json answer;
    answer["id"] = id.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(id);
    answer["result"] = result;
    answer["error"] = error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(error);
    if (run != 0) answer["run"] = run;
    return answer.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

AuditEntry command_audit(const std::string& id, const std::string& controller, const std::string& verb,
                         const CommandOutcome& outcome) {
    AuditEntry entry;
    entry.who = "mqtt";
    entry.action = "mqtt cmd/" + verb;
    entry.target = controller;
    entry.result = outcome.result == "ok" ? "ok" : outcome.result + ": " + outcome.error;
    entry.detail = id;
    return entry;
}

}  // namespace doorlinkd
