#include "fleet/clocks.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>

#include "library/doorlink_library.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The fields of a text laid out as pattern, in which 'y', 'm', 'd', 'h', 'i'
// and 's' stand for a decimal digit of the year, month, day, hour, minute
// and second, and any other character for itself; none when it does not fit.
std::optional<CalendarTime> read_time(const std::string& text, const char* pattern) {
    if (text.size() != std::strlen(pattern)) return std::nullopt;
    CalendarTime time;
    for (size_t i = 0; i < text.size(); ++i) {
        int* field = nullptr;
        switch (pattern[i]) {
            case 'y': field = &time.year; break;
            case 'm': field = &time.month; break;
            case 'd': field = &time.day; break;
            case 'h': field = &time.hour; break;
            case 'i': field = &time.minute; break;
            case 's': field = &time.second; break;
            default:
                if (text[i] != pattern[i]) return std::nullopt;
                continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        *field = *field * 10 + (text[i] - '0');
    }
    return time;
}

// Seconds from 1970-01-01 00:00:00 to a calendar time, both read in one
// zone without offsets; none for a date or time that does not exist.
std::optional<int64_t> calendar_seconds(const CalendarTime& time) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_hour = time.hour;
    fields.tm_min = time.minute;
    fields.tm_sec = time.second;
    const std::time_t seconds = timegm(&fields);
    // timegm carries a 31st of April into May: what it changed did not exist.
    if (fields.tm_year != time.year - 1900 || fields.tm_mon != time.month - 1 || fields.tm_mday != time.day ||
        fields.tm_hour != time.hour || fields.tm_min != time.minute || fields.tm_sec != time.second) {
        return std::nullopt;
    }
    return static_cast<int64_t>(seconds);
}

}  // namespace

int64_t host_now_ms() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

std::string site_local_now(const Controller& controller) {
    return local_text(host_now_ms(), controller.zone);
}

std::optional<int64_t> clock_skew(const std::string& clockText, const std::string& localNow) {
    std::optional<CalendarTime> shown = read_time(clockText, "yy-mm-dd hh:ii:ss");
    const std::optional<CalendarTime> local = read_time(localNow, "yyyymmddhhiiss");
    if (!shown || !local) return std::nullopt;
    shown->year += local->year / 100 * 100;
    const std::optional<int64_t> controller = calendar_seconds(*shown);
    const std::optional<int64_t> zone = calendar_seconds(*local);
    if (!controller || !zone) return std::nullopt;
    return *controller - *zone;
}

bool set_to_site_time(const Controller& controller, LeaseKeeper& leases, Metrics& metrics) {
    leases.check(controller.name);
    const bool set = library::set_clock_to(controller, site_local_now(controller));
    metrics.exchange(controller.name, set);
    return set;
}

}  // namespace doorlinkd
