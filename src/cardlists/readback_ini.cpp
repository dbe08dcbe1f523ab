// A read-back card file as an INI file of the source file's keys, so that the
// host can show what a controller holds.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "cardlists/binary_file.h"
#include "cardlists/card_record.h"
#include "cardlists/readback.h"
#include "core/bytes.h"
#include "core/paths.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace doorlink::cardlists {
namespace {

using core::ByteReader;

std::string card_text(const ByteReader& r, size_t at) {
    char text[16];
    std::snprintf(text, sizeof text, "%03u%05u", r.u8(at), r.u16_be(at + 1));
    return text;
}

std::string digits_text(const ByteReader& r, size_t at) {
    char text[32];
    std::snprintf(text, sizeof text, "%d%d%d%d%d%d", r.u8(at), r.u8(at + 1), r.u8(at + 2), r.u8(at + 3),
                  r.u8(at + 4), r.u8(at + 5));
    return text;
}

// The card texts: the first, then ",%03u%05u" for each further card until
// one formats as ",00000000"; none when the first two further fields are
// all 0xFF (a record that never had them).
std::string card_list_text(const ByteReader& r) {
    std::string text = card_text(r, kCardAt);
    bool unused = true;
    for (size_t i = kFurtherCardsAt; i < kFurtherCardsAt + 2 * kCardFieldSize; ++i) {
        unused = unused && r.u8(i) == 0xFF;
    }
    if (unused) return text;
    for (size_t k = 0; k < kFurtherCards; ++k) {
        std::string further = card_text(r, kFurtherCardsAt + k * kCardFieldSize);
        if (further == "00000000") break;
        text += ',' + further;
    }
    return text;
}

std::string day_text(const ByteReader& r, size_t at) {
    std::string text;
    for (size_t range = 0; range < kDayRanges; ++range) {
        const size_t slot = at + range * kDayRangeSize;
        if (r.u8(slot) == kEmptyRangeByte) break;
        char part[40];
        std::snprintf(part, sizeof part, "%02u%02u-%02u%02u-%02u;", r.u8(slot), r.u8(slot + 1),
                      r.u8(slot + 2), r.u8(slot + 3), r.u8(slot + 4));
        text += part;
    }
    return text;
}

// The directory part of a path; "." when it has none.
std::string directory_of(const std::string& path) {
    const size_t last = path.rfind(platform::kPathSeparator);
    return last == std::string::npos ? std::string(".") : path.substr(0, last);
}

}  // namespace

uint32_t ReadBackToIni(const char* readBackPath, int32_t number) {
    if (!readBackPath) return 0;
    char name[48];
    std::snprintf(name, sizeof name, "ReCard%03d.ini", number);
    const std::string iniPath = core::join_path(directory_of(readBackPath), name);
    platform::delete_file(iniPath);

    BinaryFile file(readBackPath, "rb+");
    if (!file.is_open()) return 0;
    const long size = file.size();
    if (size <= 0 || size % static_cast<long>(kReadBackRecordSize) != 0) return 0;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (file.read(bytes.data(), bytes.size()) != bytes.size()) return 0;
    file.close();

    const size_t records = bytes.size() / kReadBackRecordSize;
    std::deque<std::string> texts;  // keys and values live until the batch is written
    std::vector<platform::ProfileWrite> writes;
    writes.reserve(records * 12);
    auto add = [&](const char* section, size_t keyNumber, std::string value) {
        texts.push_back(section + std::to_string(keyNumber));
        const char* key = texts.back().c_str();
        texts.push_back(std::move(value));
        writes.push_back({section, key, texts.back().c_str()});
    };
    for (size_t i = 0; i < records; ++i) {
        const ByteReader r(bytes.data() + i * kReadBackRecordSize, kReadBackRecordSize);
        const size_t k = i + 1;
        add("CardNo", k, card_list_text(r));
        add("SerialNo", k, digits_text(r, kSerialAt));
        add("Password", k, digits_text(r, kPasswordAt));
        add("UserStyle", k, r.u8(kUserStyleAt) != 0 ? "1" : "0");
        const uint8_t open = r.u8(kOpenStyleAt);
        add("OpenStyle", k, open == 0 ? "0" : open == 1 ? "1" : "2");
        for (size_t day = 0; day < kDays; ++day) {
            add(kDayNames[day], k, day_text(r, kFirstDayAt + day * kDayFieldSize));
        }
    }
    return platform::profile_write_strings(writes.data(), writes.size(), iniPath.c_str()) ? 1 : 0;
}

}  // namespace doorlink::cardlists
