// The card list record (300 bytes short, 360 long) and the one builder that
// every writer of records uses: whole-list conversion, single records and
// records from arguments.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cardlists/encoders.h"

namespace doorlink::cardlists {

constexpr size_t kShortRecordSize = 300;
constexpr size_t kLongRecordSize = 360;

// Record offsets.
constexpr size_t kCardAt = 0;
constexpr size_t kSerialAt = 6;
constexpr size_t kUserStyleAt = 12;
constexpr size_t kFirstDayAt = 13;  // Sunday; each day 40 bytes on
constexpr size_t kPasswordAt = 293;
constexpr size_t kOpenStyleAt = 299;
constexpr size_t kFurtherCardsAt = 300;  // long records: ten more card fields
constexpr size_t kFurtherCards = 10;
constexpr size_t kDays = 7;
// Card text k of a "CardNo" value starts at character 9 k.
constexpr size_t kCardTextStep = 9;
constexpr size_t kCardTextLength = 8;

enum class RecordKind { Short, Long };

constexpr size_t record_size(RecordKind kind) {
    return kind == RecordKind::Long ? kLongRecordSize : kShortRecordSize;
}

// The day names, Sunday first, as sections and key prefixes name them.
extern const std::array<const char*, kDays> kDayNames;

// One card's values as texts, and the two style bytes already decided.
struct CardValues {
    std::string_view cardNo;
    std::string_view serialNo;
    uint8_t userStyle = 1;
    std::array<std::string_view, kDays> days{};
    std::string_view password;
    uint8_t openStyle = 2;
};

// The style bytes of a source file's texts: "0" gives 0, anything else 1;
// "0" 0, "1" 1, anything else 2.
uint8_t UserStyleOf(std::string_view text);
uint8_t OpenStyleOf(std::string_view text);

// Writes record_size(kind) bytes of the record into record.
void BuildCardRecord(const CardValues& card, RecordKind kind, DigitEnd digitEnd, uint8_t* record);

}  // namespace doorlink::cardlists
