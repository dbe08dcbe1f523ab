// The conversion exports: whole lists from a source file, and the record of a
// single card into the caller's memory.

#include "cardlists/conversion.h"
#include "cardlists/source_file.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

using namespace doorlink;
using cardlists::RecordKind;

namespace {

uint32_t format_signal(const char* sourcePath, int32_t cardIndex, uint8_t* record, RecordKind kind) {
    if (!sourcePath || !record) return 0;
    // The single records convert every digit position, missing ones too.
    cardlists::BuildSourceRecord(platform::ProfileSnapshot(sourcePath), cardIndex, kind,
                                 cardlists::DigitEnd::Converted, record);
    return 1;
}

}  // namespace

extern "C" DOORLINK_API uint32_t DOORLINK_CALL FormatName(const char* sourcePath, int32_t count,
                                                          uint32_t listNumber) {
    return core::guarded<uint32_t>(
        0, [&] { return cardlists::ConvertList(sourcePath, count, listNumber, RecordKind::Short); });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL FormatName1(const char* sourcePath, int32_t count,
                                                           uint32_t listNumber) {
    return core::guarded<uint32_t>(
        0, [&] { return cardlists::ConvertList(sourcePath, count, listNumber, RecordKind::Long); });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL TransformName(const char* sourcePath, int32_t count,
                                                             uint32_t listNumber, uint32_t kind) {
    if (kind == 0) return FormatName(sourcePath, count, listNumber);
    if (kind == 1) return FormatName1(sourcePath, count, listNumber);
    return 0;
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName(const char* sourcePath, int32_t cardIndex,
                                                                uint8_t* record) {
    return core::guarded<uint32_t>(
        0, [&] { return format_signal(sourcePath, cardIndex, record, RecordKind::Short); });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL FormatSignalName1(const char* sourcePath, int32_t cardIndex,
                                                                 uint8_t* record) {
    return core::guarded<uint32_t>(
        0, [&] { return format_signal(sourcePath, cardIndex, record, RecordKind::Long); });
}
