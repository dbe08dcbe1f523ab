// What a command or an API call produces: its exit status, one JSON object
// (the command line prints it with --json, the API answers it) and the lines
// a person reads.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cards/card_csv.h"
#include "model/errors.h"

namespace doorlinkd {

using Json = nlohmann::ordered_json;

struct Outcome {
    ExitCode code = kSuccess;
    Json json = Json::object();
    std::vector<std::string> lines;
};

// The outcome of a success: the JSON and one line that says it.
Outcome success(Json json, const std::string& line);

// The outcome of a failure: {"error": reason} and "doorlinkd: reason".
Outcome failure(ExitCode code, const std::string& reason);

// The outcome of what a command or call threw, with the exit status of its
// kind: refused (and a stale plan) 2, busy 5, unreachable 1, anything else a local error 3.
Outcome outcome_of_failure(const std::exception& e);

// An outcome as one JSON object {"code", "json", "lines"} and back: what one
// process hands another through the database. Refused for a text that is no
// such object.
std::string outcome_text(const Outcome& outcome);
Outcome outcome_of_text(const std::string& text);

// The outcome of refused rows: the error and {"rows": [{"line", "column",
// "reason"}]}, a line each, and "more_rows": N for those not listed.
Outcome outcome_of_rows(const RowsRefused& refused);

}  // namespace doorlinkd
