// The three field encoders that every writer of card list records shares:
// card texts, digit texts and day texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace doorlink::cardlists {

constexpr size_t kCardFieldSize = 6;
constexpr size_t kDigitFieldSize = 6;
constexpr size_t kDayRanges = 8;
constexpr size_t kDayRangeSize = 5;
constexpr size_t kDayFieldSize = kDayRanges * kDayRangeSize;  // 40
// An unused time range slot holds this byte in all five places; a slot that
// starts with it ends the day.
constexpr uint8_t kEmptyRangeByte = 0x66;

using CardField = std::array<uint8_t, kCardFieldSize>;
using DigitField = std::array<uint8_t, kDigitFieldSize>;
using DayField = std::array<uint8_t, kDayFieldSize>;

// What a digit field holds where the text has no character: 0x00, or the
// missing character converted like any other (0 - 0x30 = 0xD0).
enum class DigitEnd { Zero, Converted };

// The leading decimal number of a text: white space, one sign, digits; 0 when
// there are none.
long ReadDecimal(std::string_view text);

// Site byte (three characters at start) and 16-bit card number (the five
// after them), both stored modulo their width; positions past the end of the
// text count as empty.
CardField EncodeCardText(std::string_view text, size_t start);

// One byte per character, its code minus 0x30, for the first six characters.
DigitField EncodeDigitText(std::string_view text, DigitEnd end);

// Up to eight ranges "hhmm-hhmm-tag;" (any of ",:;-/" separates) as start
// hour, start minute, end hour, end minute, tag; unfilled slots are 0x66.
DayField ParseDayText(std::string_view text);

}  // namespace doorlink::cardlists
