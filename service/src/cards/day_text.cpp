#include "cards/day_text.h"

#include "cards/card_rules.h"

namespace doorlinkd {
namespace {

bool is_separator(char c) { return c == ',' || c == ':' || c == ';' || c == '-' || c == '/'; }

// Minutes since midnight of an hhmm text, or -1.
int clock_minutes(std::string_view text) {
    if (text.size() != 4 || !all_digits(text)) return -1;
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[2] - '0') * 10 + (text[3] - '0');
    if (hours > 23 || minutes > 59) return -1;
    return hours * 60 + minutes;
}

// A tag of 1 to 3 decimal digits up to 255, or -1.
int tag_value(std::string_view text) {
    if (text.empty() || text.size() > 3 || !all_digits(text)) return -1;
    int value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    return value <= 255 ? value : -1;
}

// The pieces between separators; a separator at the very end ends the last
// piece and starts none.
class Pieces {
public:
    explicit Pieces(std::string_view text) : text_(text) {}
    bool next(std::string_view& piece) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = pos_;
        while (end < text_.size() && !is_separator(text_[end])) ++end;
        piece = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// "hhmm-hhmm-tt;": the tag takes at least two digits, as the controller
// reads it back.
void append_range(std::string& out, int from, int to, int tag) {
    auto two_digits = [&out](int value) {
        out += static_cast<char>('0' + value / 10);
        out += static_cast<char>('0' + value % 10);
    };
    two_digits(from / 60);
    two_digits(from % 60);
    out += '-';
    two_digits(to / 60);
    two_digits(to % 60);
    out += '-';
    if (tag < 100) {
        two_digits(tag);
    } else {
        out += std::to_string(tag);
    }
    out += ';';
}

std::string time_problem(std::string_view text, const char* which) {
    if (text.empty()) return std::string("the ") + which + " time is missing";
    return std::string(text) + " is not a clock time (hhmm)";
}

}  // namespace

bool normal_day_text(std::string_view text, std::string& normal, std::string& reason) {
    normal.clear();
    Pieces pieces(text);
    std::string_view start;
    for (int range = 1; pieces.next(start); ++range) {
        if (range > kMaxRangesPerDay) {
            reason = "more than " + std::to_string(kMaxRangesPerDay) + " ranges";
            return false;
        }
        std::string_view end;
        std::string_view tag;
        if (pieces.next(end)) pieces.next(tag);
        const int from = clock_minutes(start);
        const int to = clock_minutes(end);
        const int tagValue = tag_value(tag);
        if (from < 0) {
            reason = time_problem(start, "start");
        } else if (to < 0) {
            reason = time_problem(end, "end");
        } else if (from >= to) {
            reason = "start " + std::string(start) + " is not before end " + std::string(end);
        } else if (tag.empty()) {
            reason = "the tag is missing";
        } else if (tagValue < 0) {
            reason = std::string(tag) + " is not a tag (0 to 255)";
        } else {
            append_range(normal, from, to, tagValue);
            continue;
        }
        // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once, on the way out
        reason = "range " + std::to_string(range) + ": " + reason;
        return false;
    }
    return true;
}

}  // namespace doorlinkd
