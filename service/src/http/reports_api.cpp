// The routes of the access reports, each JSON or (?format=csv) a CSV file
// to download. Viewers may read them: they hold no PIN.
#include "fleet/reports.h"
#include "http/handlers.h"
#include "zones/policy_clock.h"

namespace doorlinkd {
namespace {

enum class Format { json, csv };

// Read before the report is worked out: a bad one costs nothing.
Format format_param(const Call& call) {
    const std::string format = query_text(call, "format", 8);
    if (format.empty() || format == "json") return Format::json;
    if (format == "csv") return Format::csv;
    throw HttpError(400, "format: json or csv");
}

void reply_report(Call& call, Format format, const Report& report, const char* file) {
    if (format == Format::json) {
        reply(call, 200, report.json);
        return;
    }
    call.response.set_header("Content-Disposition", std::string("attachment; filename=\"") + file + "\"");
    call.response.set_content(report_csv(report), "text/csv; charset=utf-8");
}

std::string required_text(const Call& call, const std::string& name, size_t maxLength) {
    const std::string text = query_text(call, name, maxLength);
    if (text.empty()) throw HttpError(400, name + ": required");
    return text;
}

}  // namespace

void report_access(Services& services, Call& call) {
    const Format format = format_param(call);
    const std::string person = required_text(call, "person", 64);
    reply_report(call, format, access_report(services.store, person, policy_now_ms()), "access.csv");
}

void report_entry(Services& services, Call& call) {
    const Format format = format_param(call);
    const std::string controller = checked_controller_name(required_text(call, "controller", 100));
    reply_report(call, format, entry_report(services.store, controller, policy_now_ms()), "entry.csv");
}

void report_unused_cards(Services& services, Call& call) {
    const Format format = format_param(call);
    const int days = static_cast<int>(query_number(call, "days", 90, 1, kMaxUnusedDays));
    reply_report(call, format, unused_cards_report(services.store, days, services.store.now_ms()),
                 "unused-cards.csv");
}

}  // namespace doorlinkd
