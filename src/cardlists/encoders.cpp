#include "cardlists/encoders.h"

namespace doorlink::cardlists {
namespace {

constexpr size_t kSiteDigits = 3;
constexpr size_t kNumberDigits = 5;
constexpr size_t kPartLength = 4;

// The characters [start, start + count) of text, cut at its end.
std::string_view slice(std::string_view text, size_t start, size_t count) {
    if (start >= text.size()) return {};
    return text.substr(start, count);
}

// Any of ",:;-/" separates two parts of a day text.
bool is_separator(char c) { return c == ',' || c == ':' || c == ';' || c == '-' || c == '/'; }

// The first separator at or after from, or npos (a plain loop: find_first_of
// looks each character up in the set with a library call).
size_t find_separator(std::string_view text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        if (is_separator(text[i])) return i;
    }
    return std::string_view::npos;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// 0..255 as read; anything else becomes 0.
uint8_t byte_or_zero(long value) { return value < 0 || value > 255 ? 0 : static_cast<uint8_t>(value); }

}  // namespace

long ReadDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    // Callers pass at most a few characters; the bound keeps longer texts sane.
    for (size_t digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (digits < 9) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

CardField EncodeCardText(std::string_view text, size_t start) {
    const long site = ReadDecimal(slice(text, start, kSiteDigits));
    const long number = ReadDecimal(slice(text, start + kSiteDigits, kNumberDigits));
    CardField field{};
    field[0] = static_cast<uint8_t>(site & 0xFF);
    field[1] = static_cast<uint8_t>((number / 256) & 0xFF);
    field[2] = static_cast<uint8_t>((number % 256) & 0xFF);
    return field;
}

DigitField EncodeDigitText(std::string_view text, DigitEnd end) {
    DigitField field{};
    for (size_t i = 0; i < kDigitFieldSize; ++i) {
        if (i >= text.size() && end == DigitEnd::Zero) continue;
        const unsigned code = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
        field[i] = static_cast<uint8_t>((code - 0x30u) & 0xFF);
    }
    return field;
}

DayField ParseDayText(std::string_view text) {
    DayField field;
    field.fill(kEmptyRangeByte);
    size_t p = 0;  // may pass the end by one after a part that ran to the end
    size_t out = 0;
    for (size_t range = 0; range < kDayRanges; ++range) {
        for (int part = 0; part < 3; ++part) {
            size_t separator = find_separator(text, p);
            if (separator == std::string_view::npos) {
                if (part == 0) return field;
                separator = text.size();
            }
            std::string_view value =
                separator > p ? text.substr(p, separator - p).substr(0, kPartLength) : std::string_view();
            if (part < 2) {
                field[out++] = byte_or_zero(ReadDecimal(slice(value, 0, 2)));
                field[out++] = byte_or_zero(ReadDecimal(slice(value, 2, 2)));
            } else {
                field[out++] = byte_or_zero(ReadDecimal(value));
            }
            p = separator + 1;
        }
    }
    return field;
}

}  // namespace doorlink::cardlists
