// The card list files the library reads: a card list source file (an INI
// file, converted one card at a time and as a whole list) and a read-back
// card file (turned into an INI file).
//   kind (bit 0: long records), card index, card count (0..9), the source
//   file (two-byte length, then its text), then the read-back card file.
#include <filesystem>
#include <memory>
#include <string>

#include "cardlists/conversion.h"
#include "cardlists/list_files.h"
#include "cardlists/readback.h"
#include "doorlink/doorlink.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const auto kind = (in.u8() & 1) ? cardlists::RecordKind::Long : cardlists::RecordKind::Short;
    const int32_t cardIndex = static_cast<int8_t>(in.u8());
    const int32_t count = in.u8() % 10;
    const std::string source = fuzz::home() + "/cards.ini";
    fuzz::write_file(source, in.long_text());
    const std::string readBack = fuzz::home() + "/ReCardInfo005.dat";
    fuzz::write_file(readBack, std::string(reinterpret_cast<const char*>(in.rest()), in.remaining()));

    // The caller's record, exactly as large as the kind's record.
    const size_t recordSize = cardlists::record_size(kind);
    std::unique_ptr<uint8_t[]> record(new uint8_t[recordSize]);
    if (kind == cardlists::RecordKind::Long) {
        FUZZ_CHECK(FormatSignalName1(source.c_str(), cardIndex, record.get()) == 1);
    } else {
        FUZZ_CHECK(FormatSignalName(source.c_str(), cardIndex, record.get()) == 1);
    }

    if (cardlists::ConvertList(source.c_str(), count, 5, kind) == 1) {
        std::error_code ec;
        const auto written = std::filesystem::file_size(cardlists::ListFilePath(5), ec);
        FUZZ_CHECK(!ec && written == static_cast<uintmax_t>(count) * recordSize);
    }

    const bool whole = in.remaining() > 0 && in.remaining() % cardlists::kReadBackRecordSize == 0;
    FUZZ_CHECK(cardlists::ReadBackToIni(readBack.c_str(), 5) == (whole ? 1u : 0u));
    return 0;
}
