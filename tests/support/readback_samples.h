// Read-back card files (360-byte records, nothing else) whose INI files the
// golden tests compare with those NameToini wrote before it streamed them
// (tests/golden/readback_ini), natively and under Wine. Each sample has a
// number of its own: NameToini of sample n writes "ReCard%03d.ini".
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace doorlink::testing {

struct ReadBackSample {
    std::string name;  // the golden file is NAME.posix.ini or NAME.windows.ini
    int number;
    std::vector<uint8_t> bytes;
    // Where the golden is too large to keep as a file: its size and FNV-1a
    // hash per backend; 0 when the golden is a file.
    size_t posixSize = 0;
    uint64_t posixHash = 0;
    size_t windowsSize = 0;
    uint64_t windowsHash = 0;
};

// "ReCardInfo%03d.dat" and "ReCard%03d.ini" of the sample's number.
inline std::string numbered_name(const char* pattern, int number) {
    char name[48];
    std::snprintf(name, sizeof name, pattern, number);
    return name;
}
inline std::string readback_name(const ReadBackSample& s) {
    return numbered_name("ReCardInfo%03d.dat", s.number);
}
inline std::string ini_name(const ReadBackSample& s) { return numbered_name("ReCard%03d.ini", s.number); }

// Writes the sample's read-back file into directory; its path.
inline std::string write_sample(const std::string& directory, const ReadBackSample& s) {
    const std::string path = directory + "/" + readback_name(s);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(s.bytes.data()), static_cast<std::streamsize>(s.bytes.size()));
    return path;
}

inline uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// The record's layout, and the pieces the samples are made of.
namespace readback_layout {
constexpr size_t kRecord = 360;
constexpr size_t kSerial = 6, kUserStyle = 12, kFirstDay = 13, kDaySize = 40, kRangeSize = 5;
constexpr size_t kPassword = 293, kOpenStyle = 299, kFurtherCards = 300, kCardField = 6;
constexpr uint8_t kEmptyRange = 0x66;

// A record with every day empty and no further card fields.
inline std::vector<uint8_t> blank_record() {
    std::vector<uint8_t> r(kRecord, 0);
    for (size_t at = kFirstDay; at < kFirstDay + 7 * kDaySize; at += kRangeSize) r[at] = kEmptyRange;
    for (size_t at = kFurtherCards; at < kRecord; ++at) r[at] = 0xFF;
    return r;
}

inline void put_card(std::vector<uint8_t>& r, size_t at, uint8_t site, uint16_t card) {
    r[at] = site;
    r[at + 1] = static_cast<uint8_t>(card >> 8);
    r[at + 2] = static_cast<uint8_t>(card);
}

inline void put_range(std::vector<uint8_t>& r, size_t day, size_t range, const std::vector<uint8_t>& five) {
    std::copy(five.begin(), five.end(),
              r.begin() + static_cast<long>(kFirstDay + day * kDaySize + range * kRangeSize));
}

inline std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> bytes;
    for (const auto& r : records) bytes.insert(bytes.end(), r.begin(), r.end());
    return bytes;
}

}  // namespace readback_layout

inline std::vector<ReadBackSample> readback_samples() {
    using namespace readback_layout;
    std::vector<ReadBackSample> samples;

    // One record with every field.
    std::vector<uint8_t> one = blank_record();
    put_card(one, 0, 7, 258);
    for (uint8_t i = 0; i < 6; ++i) {
        one[kSerial + i] = static_cast<uint8_t>(i + 1);
        one[kPassword + i] = static_cast<uint8_t>(9 - i);
    }
    one[kUserStyle] = 1;
    one[kOpenStyle] = 1;
    put_range(one, 0, 0, {8, 0, 17, 30, 1});
    put_range(one, 3, 0, {6, 5, 12, 0, 42});
    put_range(one, 3, 1, {13, 0, 22, 45, 3});
    samples.push_back({"one_record", 1, one});

    // Further cards: ended by a zero card, all ten, a first field of 0xFF
    // alone, the first two 0xFF (none then, whatever follows), a zero card
    // first, and a zero card whose unused bytes are not zero.
    std::vector<std::vector<uint8_t>> further(6, one);
    for (size_t k = 0; k < 10; ++k) {
        put_card(further[1], kFurtherCards + k * kCardField, static_cast<uint8_t>(k + 1),
                 static_cast<uint16_t>(1000 * k + 7));
    }
    further[0] = further[1];
    put_card(further[0], kFurtherCards + 3 * kCardField, 0, 0);
    put_card(further[2], kFurtherCards + kCardField, 3, 4);
    put_card(further[3], kFurtherCards + 2 * kCardField, 5, 6);
    put_card(further[4], kFurtherCards, 0, 0);
    put_card(further[4], kFurtherCards + kCardField, 1, 1);
    put_card(further[5], kFurtherCards, 2, 65535);
    put_card(further[5], kFurtherCards + kCardField, 0, 0);
    further[5][kFurtherCards + kCardField + 3] = 9;
    put_card(further[5], kFurtherCards + 2 * kCardField, 4, 4);
    samples.push_back({"further_cards", 2, joined(further)});

    // Days: all empty, all eight ranges taken, ranges after an empty one,
    // numbers of three digits.
    std::vector<std::vector<uint8_t>> days(3, blank_record());
    for (size_t range = 0; range < 8; ++range) {
        put_range(days[1], 6, range,
                  {static_cast<uint8_t>(range), 1, static_cast<uint8_t>(range + 1), 2, 99});
    }
    put_range(days[2], 1, 1, {10, 0, 11, 0, 1});
    put_range(days[2], 2, 0, {200, 100, 255, 0, 7});
    samples.push_back({"empty_days", 3, joined(days)});

    // Every byte 0xFF, every byte 0, and the style bytes beyond their values.
    std::vector<std::vector<uint8_t>> extremes = {std::vector<uint8_t>(kRecord, 0xFF),
                                                  std::vector<uint8_t>(kRecord, 0), blank_record()};
    extremes[2][kUserStyle] = 2;
    extremes[2][kOpenStyle] = 3;
    samples.push_back({"ff_fields", 4, joined(extremes)});

    // Thousands of records of every kind, from a fixed sequence.
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 16);
    };
    std::vector<std::vector<uint8_t>> many(3000, std::vector<uint8_t>(kRecord));
    for (auto& r : many) {
        for (uint8_t& b : r) b = next();
        for (size_t at = kFirstDay; at < kFirstDay + 7 * kDaySize; at += kRangeSize) {
            if (next() % 3 == 0) r[at] = kEmptyRange;
        }
        for (size_t at = kFurtherCards; at < kRecord; at += kCardField) {
            const uint8_t pick = next() % 8;
            if (pick == 0) put_card(r, at, 0, 0);
            if (pick == 1) std::fill_n(r.begin() + static_cast<long>(at), kCardField, 0xFF);
        }
    }
    samples.push_back(
        {"thousands", 5, joined(many), 1365382, 0x75d660a0b78f694dull, 1401394, 0x8bf7478e35307d33ull});
    return samples;
}

}  // namespace doorlink::testing
