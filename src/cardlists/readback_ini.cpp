// A read-back card file as an INI file of the source file's keys, so that the
// host can show what a controller holds. The INI groups its keys by section,
// so the file is read once per section, a few records at a time, and each
// section's lines go out as they are made: a list of any length takes the
// same little memory.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

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

// Records read at a time.
constexpr size_t kBlockRecords = 32;

// The sections in the order of the file; each key is the section name and the
// record's number from 1.
enum Section {
    kCardNoSection,
    kSerialNoSection,
    kPasswordSection,
    kUserStyleSection,
    kOpenStyleSection,
    kFirstDaySection
};
constexpr size_t kSections = kFirstDaySection + kDays;

const char* section_name(size_t section) {
    static const std::array<const char*, kFirstDaySection> fixed = {"CardNo", "SerialNo", "Password",
                                                                    "UserStyle", "OpenStyle"};
    return section < kFirstDaySection ? fixed[section] : kDayNames[section - kFirstDaySection];
}

void append_card(std::string& text, const ByteReader& r, size_t at) {
    char part[16];
    std::snprintf(part, sizeof part, "%03u%05u", r.u8(at), r.u16_be(at + 1));
    text += part;
}

void append_digits(std::string& text, const ByteReader& r, size_t at) {
    char part[32];
    std::snprintf(part, sizeof part, "%d%d%d%d%d%d", r.u8(at), r.u8(at + 1), r.u8(at + 2), r.u8(at + 3),
                  r.u8(at + 4), r.u8(at + 5));
    text += part;
}

// The card texts: the first, then ",%03u%05u" for each further card until
// one formats as ",00000000"; none when the first two further fields are
// all 0xFF (a record that never had them).
void append_card_list(std::string& text, const ByteReader& r) {
    append_card(text, r, kCardAt);
    bool unused = true;
    for (size_t i = kFurtherCardsAt; i < kFurtherCardsAt + 2 * kCardFieldSize; ++i) {
        unused = unused && r.u8(i) == 0xFF;
    }
    if (unused) return;
    for (size_t k = 0; k < kFurtherCards; ++k) {
        const size_t at = kFurtherCardsAt + k * kCardFieldSize;
        if (r.u8(at) == 0 && r.u16_be(at + 1) == 0) break;
        text += ',';
        append_card(text, r, at);
    }
}

void append_day(std::string& text, const ByteReader& r, size_t at) {
    for (size_t range = 0; range < kDayRanges; ++range) {
        const size_t slot = at + range * kDayRangeSize;
        if (r.u8(slot) == kEmptyRangeByte) break;
        char part[40];
        std::snprintf(part, sizeof part, "%02u%02u-%02u%02u-%02u;", r.u8(slot), r.u8(slot + 1),
                      r.u8(slot + 2), r.u8(slot + 3), r.u8(slot + 4));
        text += part;
    }
}

// The value of a record's key in section.
void append_value(std::string& text, size_t section, const ByteReader& r) {
    switch (section) {
        case kCardNoSection: return append_card_list(text, r);
        case kSerialNoSection: return append_digits(text, r, kSerialAt);
        case kPasswordSection: return append_digits(text, r, kPasswordAt);
        case kUserStyleSection: text += r.u8(kUserStyleAt) != 0 ? '1' : '0'; return;
        case kOpenStyleSection: {
            const uint8_t open = r.u8(kOpenStyleAt);
            text += open == 0 ? '0' : open == 1 ? '1' : '2';
            return;
        }
        default: return append_day(text, r, kFirstDayAt + (section - kFirstDaySection) * kDayFieldSize);
    }
}

// Writes the keys of section for the first `records` records of file; false
// when they cannot all be read.
bool write_section(BinaryFile& file, size_t records, size_t section, platform::ProfileFileWriter& ini) {
    std::array<uint8_t, kBlockRecords * kReadBackRecordSize> block;
    std::string key;
    std::string value;
    ini.section(section_name(section));
    if (!file.seek(0)) return false;
    for (size_t first = 0; first < records; first += kBlockRecords) {
        const size_t count = std::min(kBlockRecords, records - first);
        if (file.read(block.data(), count * kReadBackRecordSize) != count * kReadBackRecordSize) return false;
        for (size_t i = 0; i < count; ++i) {
            key.assign(section_name(section)).append(std::to_string(first + i + 1));
            value.clear();
            append_value(value, section,
                         ByteReader(block.data() + i * kReadBackRecordSize, kReadBackRecordSize));
            ini.key(key, value);
        }
    }
    return true;
}

// Writes the INI of the first `records` records of file at path, section by
// section; false when any of it could not be read or written.
bool write_ini(BinaryFile& file, size_t records, const std::string& path) {
    platform::ProfileFileWriter ini(path.c_str());
    for (size_t section = 0; section < kSections; ++section) {
        if (!write_section(file, records, section, ini)) return false;
    }
    return ini.finish();
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
    const size_t records = static_cast<size_t>(size) / kReadBackRecordSize;

    if (write_ini(file, records, iniPath)) return 1;
    platform::delete_file(iniPath);  // no part of an INI stays behind a failure
    return 0;
}

}  // namespace doorlink::cardlists
