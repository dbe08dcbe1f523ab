#include "cli/outcome.h"

#include <iostream>

namespace doorlinkd {

void emit(const Outcome& outcome, bool asJson) {
    if (asJson) {
        std::cout << outcome.json.dump() << std::endl;
        return;
    }
    std::ostream& out = outcome.json.contains("error") ? std::cerr : std::cout;
    for (const std::string& line : outcome.lines) out << line << '\n';
    out.flush();
}

Outcome failure(ExitCode code, const std::string& reason) {
    Outcome outcome;
    outcome.code = code;
    outcome.json["error"] = reason;
    outcome.lines.push_back("doorlinkd: " + reason);
    return outcome;
}

}  // namespace doorlinkd
