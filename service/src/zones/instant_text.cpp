#include "zones/instant_text.h"

#include <date/date.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "model/errors.h"
#include "zones/zones.h"

namespace doorlinkd {
namespace {

using std::chrono::milliseconds;

constexpr size_t kLocalTextLength = 14;  // yyyymmddhhmmss
constexpr int64_t kMsPerMinute = 60000;

// Reads a fixed number of digits from text at pos, moving pos past them.
bool read_digits(const std::string& text, size_t& pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    pos += count;
    return true;
}

bool read_char(const std::string& text, size_t& pos, char wanted) {
    if (pos >= text.size() || text[pos] != wanted) return false;
    ++pos;
    return true;
}

// The offset at text[pos...] to its end, in minutes east of UTC.
bool read_offset(const std::string& text, size_t pos, int& minutes) {
    if (pos + 1 == text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
        minutes = 0;
        return true;
    }
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return false;
    const int sign = text[pos] == '-' ? -1 : 1;
    ++pos;
    int hours = 0;
    int extra = 0;
    if (!read_digits(text, pos, 2, hours)) return false;
    if (pos < text.size()) {
        read_char(text, pos, ':');
        if (!read_digits(text, pos, 2, extra)) return false;
    }
    if (pos != text.size() || hours > 23 || extra > 59) return false;
    minutes = sign * (hours * 60 + extra);
    return true;
}

}  // namespace

std::string readable_time(const std::string& time) {
    if (time.size() != kLocalTextLength) return time;
    return time.substr(0, 4) + "-" + time.substr(4, 2) + "-" + time.substr(6, 2) + " " + time.substr(8, 2) +
           ":" + time.substr(10, 2) + ":" + time.substr(12, 2);
}

std::string iso_instant(int64_t instantMs) {
    // The local text of UTC is the same date and time.
    std::string text = readable_time(local_text(instantMs, "UTC"));
    text[10] = 'T';
    return text + "Z";
}

int64_t parsed_iso_instant(const std::string& text) {
    const auto refused = [&text] {
        return Refused("\"" + text +
                       "\" is no ISO 8601 time with an offset, such as 2026-12-08T09:00:00+01:00 or "
                       "2026-12-08T08:00:00Z");
    };
    size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const bool fields =
        read_digits(text, pos, 4, year) && read_char(text, pos, '-') && read_digits(text, pos, 2, month) &&
        read_char(text, pos, '-') && read_digits(text, pos, 2, day) &&
        (read_char(text, pos, 'T') || read_char(text, pos, 't')) && read_digits(text, pos, 2, hour) &&
        read_char(text, pos, ':') && read_digits(text, pos, 2, minute) && read_char(text, pos, ':') &&
        read_digits(text, pos, 2, second);
    if (!fields) throw refused();
    // A fraction of the second: its first three digits count.
    int64_t fractionMs = 0;
    if (read_char(text, pos, '.')) {
        const size_t first = pos;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
        if (pos == first) throw refused();
        for (size_t i = first; i < first + 3; ++i)
            fractionMs = fractionMs * 10 + (i < pos ? text[i] - '0' : 0);
    }
    int offsetMinutes = 0;
    if (!read_offset(text, pos, offsetMinutes)) throw refused();
    const date::year_month_day date{date::year{year}, date::month{static_cast<unsigned>(month)},
                                    date::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) throw refused();
    const auto utc = date::sys_days{date} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
                     std::chrono::seconds{second};
    return std::chrono::duration_cast<milliseconds>(utc.time_since_epoch()).count() + fractionMs -
           offsetMinutes * kMsPerMinute;
}

RecordBound record_bound(const std::string& name, const std::string& text) {
    RecordBound bound;
    if (text.empty()) return bound;
    if (text.size() == kLocalTextLength &&
        std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        bound.local = text;
        return bound;
    }
    try {
        bound.instant = parsed_iso_instant(text);
    } catch (const Refused& refused) {
        throw Refused(name + ": " + refused.what() + " (or yyyymmddhhmmss, the record's own local time)");
    }
    return bound;
}

}  // namespace doorlinkd
