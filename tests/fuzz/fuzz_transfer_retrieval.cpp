// Record transfer retrieval: the controller's numbered record blocks come
// from the input.
//   controller number (one byte), then the datagrams.
#include "records/transfer_retrieval.h"
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
    const core::Mac mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0xAA};
    const uint32_t result =
        records::TransferRecords(transport, "127.0.0.1", controller, mac, fuzz::fixed_time);
    FUZZ_CHECK(result <= records::kTransferEndMarker);
    FUZZ_CHECK(transport.balanced());
    return 0;
}
