#include "fleet/outcome.h"

#include <utility>

namespace doorlinkd {

Outcome success(Json json, const std::string& line) {
    Outcome outcome;
    outcome.json = std::move(json);
    outcome.lines.push_back(line);
    return outcome;
}

Outcome failure(ExitCode code, const std::string& reason) {
    Outcome outcome;
    outcome.code = code;
    outcome.json["error"] = reason;
    outcome.lines.push_back("doorlinkd: " + reason);
    return outcome;
}

Outcome outcome_of_failure(const std::exception& e) {
    if (const auto* rows = dynamic_cast<const RowsRefused*>(&e)) return outcome_of_rows(*rows);
    if (dynamic_cast<const Refused*>(&e) || dynamic_cast<const PlanStale*>(&e))
        return failure(kRefused, e.what());
    if (dynamic_cast<const Busy*>(&e)) return failure(kBusy, e.what());
    if (dynamic_cast<const Unreachable*>(&e)) return failure(kUnreachable, e.what());
    return failure(kLocalError, e.what());
}

std::string outcome_text(const Outcome& outcome) {
    return Json{{"code", static_cast<int>(outcome.code)}, {"json", outcome.json}, {"lines", outcome.lines}}
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Outcome outcome_of_text(const std::string& text) {
    try {
        const Json json = Json::parse(text);
        Outcome outcome;
        outcome.code = static_cast<ExitCode>(json.at("code").get<int>());
        outcome.json = json.at("json");
        outcome.lines = json.at("lines").get<std::vector<std::string>>();
        return outcome;
    } catch (const nlohmann::json::exception& e) {
        throw Refused(std::string("an outcome that is none: ") + e.what());
    }
}

Outcome outcome_of_rows(const RowsRefused& refused) {
    Outcome outcome = failure(kRefused, refused.what());
    Json rows = Json::array();
    for (const RowError& row : refused.rows()) {
        rows.push_back(Json{{"line", row.line}, {"column", row.column}, {"reason", row.reason}});
        outcome.lines.push_back("  line " + std::to_string(row.line) + ", column " + row.column + ": " +
                                row.reason);
    }
    outcome.json["rows"] = rows;
    if (refused.more_rows() > 0) {
        const std::size_t more = refused.more_rows();
        outcome.json["more_rows"] = more;
        outcome.lines.push_back("  and " + std::to_string(more) + (more == 1 ? " more row" : " more rows"));
    }
    return outcome;
}

}  // namespace doorlinkd
