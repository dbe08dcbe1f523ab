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
