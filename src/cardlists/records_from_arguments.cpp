// Card list records from arguments: one record written as the first of a new
// list or appended to an existing one.
#include <cstring>

#include "cardlists/binary_file.h"
#include "cardlists/card_record.h"
#include "cardlists/list_files.h"
#include "cardlists/list_guard.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"
#include "platform/files.h"

using namespace doorlink;
using namespace doorlink::cardlists;

namespace {

constexpr size_t kDigitTextLength = 6;
constexpr int32_t kMaxListNumber = 255;
constexpr size_t kMaxFurtherCardTexts = 10;

// Short records take exactly one card text; long records 8 + 9 k characters
// (k = 0 to 10), the further card texts at characters 9, 18, ...
bool card_text_fits(const char* card, RecordKind kind) {
    const size_t length = std::strlen(card);
    if (kind == RecordKind::Short) return length == kCardTextLength;
    for (size_t k = 0; k <= kMaxFurtherCardTexts; ++k) {
        if (length == kCardTextLength + k * kCardTextStep) return true;
    }
    return false;
}

uint32_t name_to_text(const char* card, const char* serialNo, uint32_t userStyle,
                      const char* const days[kDays], const char* password, uint32_t openStyle,
                      int32_t listNumber, uint32_t append, RecordKind kind) {
    // Everything is checked before the list file is touched.
    if (!card || !serialNo || !password) return 0;
    for (size_t day = 0; day < kDays; ++day) {
        if (!days[day]) return 0;
    }
    if (userStyle > 1 || openStyle > 2 || listNumber < 0 || listNumber > kMaxListNumber) return 0;
    if (!card_text_fits(card, kind) || std::strlen(serialNo) != kDigitTextLength ||
        std::strlen(password) != kDigitTextLength) {
        return 0;
    }

    CardValues values;
    values.cardNo = card;
    values.serialNo = serialNo;
    values.userStyle = static_cast<uint8_t>(userStyle);
    for (size_t day = 0; day < kDays; ++day) values.days[day] = days[day];
    values.password = password;
    values.openStyle = static_cast<uint8_t>(openStyle);
    uint8_t record[kLongRecordSize];
    BuildCardRecord(values, kind, DigitEnd::Zero, record);

    ListFileGuard writing(listNumber, ListFileGuard::Use::Write);
    EnsureListDirectory();
    const std::string path = ListFilePath(listNumber);
    BinaryFile list(path, append != 0 ? "ab+" : "wb+");
    if (!list.is_open()) return 0;
    const long before = append != 0 ? list.size() : 0;
    bool ok = before >= 0 && list.write(record, record_size(kind));
    ok = list.close() && ok;
    // A write that failed part-way (a full disk) leaves the list as it was.
    if (!ok && before >= 0) platform::resize_file(path, before);
    return ok ? 1 : 0;
}

}  // namespace

extern "C" DOORLINK_API uint32_t DOORLINK_CALL NameToText(
    const char* card, const char* serialNo, uint32_t userStyle, const char* sunday, const char* monday,
    const char* tuesday, const char* wednesday, const char* thursday, const char* friday,
    const char* saturday, const char* password, uint32_t openStyle, int32_t listNumber, uint32_t append) {
    return core::guarded<uint32_t>(0, [&] {
        const char* days[kDays] = {sunday, monday, tuesday, wednesday, thursday, friday, saturday};
        return name_to_text(card, serialNo, userStyle, days, password, openStyle, listNumber, append,
                            RecordKind::Short);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL NameToText1(
    const char* card, const char* serialNo, uint32_t userStyle, const char* sunday, const char* monday,
    const char* tuesday, const char* wednesday, const char* thursday, const char* friday,
    const char* saturday, const char* password, uint32_t openStyle, int32_t listNumber, uint32_t append) {
    return core::guarded<uint32_t>(0, [&] {
        const char* days[kDays] = {sunday, monday, tuesday, wednesday, thursday, friday, saturday};
        return name_to_text(card, serialNo, userStyle, days, password, openStyle, listNumber, append,
                            RecordKind::Long);
    });
}
