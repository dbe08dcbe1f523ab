#include "policy/policy_text.h"

#include <algorithm>
#include <cctype>

#include "cards/card_rules.h"
#include "cards/day_text.h"
#include "common/utf8.h"
#include "policy/calendar.h"

namespace doorlinkd {
namespace {

constexpr std::string_view kSiteGrant = "site:";
constexpr std::string_view kControllersGrant = "controllers:";

// The pieces between the separators; "" is one empty piece.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t end = text.find(separator);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return pieces;
        text.remove_prefix(end + 1);
    }
}

template <typename Piece, typename Write>
std::string joined(const std::vector<Piece>& pieces, char separator, Write write) {
    std::string text;
    for (const Piece& piece : pieces) {
        if (!text.empty()) text += separator;
        write(text, piece);
    }
    return text;
}

int number(std::string_view digits) {
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return value;
}

bool has_white_space(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// Minutes since midnight of "hh:mm" (00:00 to 23:59, or 24:00 for an
// end), or -1.
int clock_minutes(std::string_view text, bool isEnd) {
    if (text.size() != 5 || text[2] != ':' || !all_digits(text.substr(0, 2)) || !all_digits(text.substr(3)))
        return -1;
    const int hours = number(text.substr(0, 2));
    const int minutes = number(text.substr(3));
    if (isEnd && hours == 24 && minutes == 0) return kMinutesPerDay;
    return hours <= 23 && minutes <= 59 ? hours * 60 + minutes : -1;
}

void append_clock(std::string& text, int minutes) {
    const int hours = minutes / 60;
    text += static_cast<char>('0' + hours / 10);
    text += static_cast<char>('0' + hours % 10);
    text += ':';
    text += static_cast<char>('0' + minutes % 60 / 10);
    text += static_cast<char>('0' + minutes % 10);
}

template <typename T>
std::optional<T> refuse(std::string& reason, std::string why) {
    reason = std::move(why);
    return std::nullopt;
}

}  // namespace

bool is_written_name(std::string_view text) {
    // Shown and stored as they are: a line of UTF-8 of a bounded size.
    constexpr size_t kMaxNameBytes = 64;
    return !text.empty() && text.size() <= kMaxNameBytes && !has_white_space(text) &&
           text.find('@') == std::string_view::npos && is_printable_utf8(text);
}

std::optional<CalendarDate> parse_date(std::string_view text, std::string& reason) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !all_digits(text.substr(0, 4)) ||
        !all_digits(text.substr(5, 2)) || !all_digits(text.substr(8))) {
        return refuse<CalendarDate>(reason, "not a date yyyy-mm-dd");
    }
    const CalendarDate date{number(text.substr(0, 4)), number(text.substr(5, 2)), number(text.substr(8))};
    if (!is_calendar_date(date))
        return refuse<CalendarDate>(reason, std::string(text) + " is no date of the calendar");
    return date;
}

std::optional<std::vector<TimeRange>> parse_ranges(std::string_view text, std::string& reason) {
    std::vector<TimeRange> ranges;
    if (text.empty()) return ranges;
    for (const std::string_view piece : split(text, ',')) {
        const std::string which = "range " + std::to_string(ranges.size() + 1);
        if (ranges.size() == static_cast<std::size_t>(kMaxRangesPerDay)) {
            return refuse<std::vector<TimeRange>>(
                reason, "more than " + std::to_string(kMaxRangesPerDay) + " ranges");
        }
        const std::size_t dash = piece.find('-');
        const int from = clock_minutes(piece.substr(0, dash), false);
        const int to = dash == std::string_view::npos ? -1 : clock_minutes(piece.substr(dash + 1), true);
        if (from < 0 || to < 0) {
            return refuse<std::vector<TimeRange>>(
                reason, which + " is not hh:mm-hh:mm (00:00 to 23:59; an end may be 24:00)");
        }
        if (from >= to) {
            return refuse<std::vector<TimeRange>>(reason, which + ": " + std::string(piece.substr(0, dash)) +
                                                              " is not before " +
                                                              std::string(piece.substr(dash + 1)));
        }
        ranges.push_back(TimeRange{from, to});
    }
    return ranges;
}

std::string ranges_text(const std::vector<TimeRange>& ranges) {
    return joined(ranges, ',', [](std::string& text, const TimeRange& range) {
        append_clock(text, range.from);
        text += '-';
        append_clock(text, range.to);
    });
}

std::optional<Grant> parse_grant(std::string_view text, std::string& reason) {
    const std::size_t at = text.find('@');
    const std::string_view target = at == std::string_view::npos ? "" : text.substr(at + 1);
    Grant grant;
    if (target.substr(0, kSiteGrant.size()) == kSiteGrant) {
        grant.site = target.substr(kSiteGrant.size());
        if (!is_written_name(grant.site))
            return refuse<Grant>(reason, "the site's name is empty or holds white space or '@'");
    } else if (target.substr(0, kControllersGrant.size()) == kControllersGrant) {
        for (const std::string_view name : split(target.substr(kControllersGrant.size()), ',')) {
            if (!is_written_name(name))
                return refuse<Grant>(reason, "a controller's name is empty or holds white space or '@'");
            grant.controllers.emplace_back(name);
        }
    } else {
        return refuse<Grant>(reason, "not SCHEDULE@site:SITE or SCHEDULE@controllers:A,B");
    }
    grant.schedule = text.substr(0, at);
    if (!is_written_name(grant.schedule))
        return refuse<Grant>(reason, "the schedule's name is empty or holds white space or '@'");
    return grant;
}

std::string grant_text(const Grant& grant) {
    std::string text = grant.schedule + '@';
    if (grant.controllers.empty()) {
        text += kSiteGrant;
        text += grant.site;
        return text;
    }
    text += kControllersGrant;
    return text +
           joined(grant.controllers, ',', [](std::string& out, const std::string& name) { out += name; });
}

std::vector<std::string> grant_texts(const std::vector<Grant>& grants) {
    std::vector<std::string> texts;
    texts.reserve(grants.size());
    for (const Grant& grant : grants) texts.push_back(grant_text(grant));
    return texts;
}

std::optional<std::vector<PersonCard>> parse_person_cards(std::string_view text, std::string& reason) {
    std::vector<PersonCard> cards;
    for (const std::string& word : split_words(std::string(text))) {
        const std::vector<std::string_view> parts = split(word, ':');
        if (parts.size() != 3 ||
            std::any_of(parts.begin(), parts.end(), [](std::string_view part) { return part.empty(); })) {
            // The word is not shown: it may hold a PIN.
            return refuse<std::vector<PersonCard>>(
                reason, "card " + std::to_string(cards.size() + 1) + " is not CARD:SERIAL:PIN");
        }
        cards.push_back(PersonCard{std::string(parts[0]), std::string(parts[1]), std::string(parts[2])});
    }
    return cards;
}

std::string person_cards_text(const std::vector<PersonCard>& cards) {
    return joined(cards, ' ', [](std::string& text, const PersonCard& card) {
        text += card.card + ':' + card.serial + ':' + card.password;
    });
}

std::optional<bool> parse_flag(std::string_view text, bool byDefault, std::string& reason) {
    if (text.empty()) return byDefault;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (lower == "true" || lower == "yes" || lower == "1") return true;
    if (lower == "false" || lower == "no" || lower == "0") return false;
    return refuse<bool>(reason, "not true or false (yes or no, 1 or 0)");
}

const char* flag_text(bool value) { return value ? "true" : "false"; }

}  // namespace doorlinkd
