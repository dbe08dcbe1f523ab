#include "fleet/clocks.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "library/doorlink_library.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

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
    CalendarTime shown, local;
    char end = 0;
    // %2d and %4d read at most that many digits, which cannot overflow.
    // NOLINTNEXTLINE(cert-err34-c,bugprone-unchecked-string-to-number-conversion)
    if (clockText.size() != 17 ||
        std::sscanf(clockText.c_str(), "%2d-%2d-%2d %2d:%2d:%2d%c", &shown.year, &shown.month, &shown.day,
                    &shown.hour, &shown.minute, &shown.second, &end) != 6) {
        return std::nullopt;
    }
    // NOLINTNEXTLINE(cert-err34-c,bugprone-unchecked-string-to-number-conversion)
    if (localNow.size() != 14 ||
        std::sscanf(localNow.c_str(), "%4d%2d%2d%2d%2d%2d", &local.year, &local.month, &local.day,
                    &local.hour, &local.minute, &local.second) != 6) {
        return std::nullopt;
    }
    shown.year += local.year / 100 * 100;
    const std::optional<int64_t> controller = calendar_seconds(shown);
    const std::optional<int64_t> zone = calendar_seconds(local);
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
