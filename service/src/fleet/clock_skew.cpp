#include "fleet/clock_skew.h"

#include <cstdio>

namespace doorlinkd {

std::optional<int64_t> clock_skew(const std::string& clockText, std::time_t hostNow) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char end = 0;
    // %2d reads two digits at most, which cannot overflow.
    // NOLINTNEXTLINE(cert-err34-c,bugprone-unchecked-string-to-number-conversion)
    if (clockText.size() != 17 || std::sscanf(clockText.c_str(), "%2d-%2d-%2d %2d:%2d:%2d%c", &year, &month,
                                              &day, &hour, &minute, &second, &end) != 6) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::tm host{};
    localtime_r(&hostNow, &host);
    std::tm controller{};
    controller.tm_year = (host.tm_year + 1900) / 100 * 100 + year - 1900;
    controller.tm_mon = month - 1;
    controller.tm_mday = day;
    controller.tm_hour = hour;
    controller.tm_min = minute;
    controller.tm_sec = second;
    controller.tm_isdst = -1;
    const std::time_t when = std::mktime(&controller);
    if (when == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(when) - static_cast<int64_t>(hostNow);
}

std::string local_time_text(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

}  // namespace doorlinkd
