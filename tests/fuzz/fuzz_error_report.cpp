// A pushed error report: whatever arrives on the monitoring socket.
//   controller number (one byte), then the datagrams.
#include <cstring>
#include <memory>

#include "records/pushed.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"
#include "support/fuzz_transport.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const int controller = in.u8();
    fuzz::DatagramScript script(in.rest(), in.remaining());
    fuzz::FuzzTransport transport(script);
    // Exactly the size the caller is told to provide.
    std::unique_ptr<char[]> text(new char[records::kErrorTextSize]);
    if (records::ReceiveErrorReport(transport, 42, text.get(), controller) == 1) {
        FUZZ_CHECK(std::memchr(text.get(), '\0', records::kErrorTextSize) != nullptr);
    }
    return 0;
}
