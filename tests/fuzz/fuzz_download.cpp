// Card list download: the list file and every reply of the controller come
// from the input.
//   kind (bit 0: long records), count (0..31), the number of list file bytes
//   given (two bytes; the rest of the count's records are zeros, and bit 15
//   makes the file one byte short), those bytes, then the datagrams.
#include "cardlists/download.h"
#include "cardlists/list_files.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"
#include "support/fuzz_transport.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const auto kind = (in.u8() & 1) ? cardlists::RecordKind::Long : cardlists::RecordKind::Short;
    const int32_t count = in.u8() % 32;
    const uint16_t given = in.u16();
    const size_t fileSize = static_cast<size_t>(count) * cardlists::record_size(kind);
    const bool shortFile = (given & 0x8000) != 0 && fileSize > 0;
    std::vector<uint8_t> file = in.bytes(given & 0x7FFF);
    file.resize(shortFile ? fileSize - 1 : fileSize, 0);
    cardlists::EnsureListDirectory();
    fuzz::write_file(cardlists::ListFilePath(7), std::string(file.begin(), file.end()));

    fuzz::DatagramScript script(in.rest(), in.remaining());
    fuzz::FuzzTransport transport(script);
    cardlists::DownloadList(transport, "127.0.0.1", count, 7, "0011223344AA", kind);
    FUZZ_CHECK(transport.balanced());
    return 0;
}
