// Card list read-back from a controller whose every reply comes from the
// input, and the read-back card file it leaves turned into an INI file.
#include "cardlists/list_files.h"
#include "cardlists/readback.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"
#include "support/fuzz_transport.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::clear_home();
    fuzz::DatagramScript script(data, size);
    fuzz::FuzzTransport transport(script);
    if (cardlists::ReadBackList(transport, "127.0.0.1", 3, "0011223344AA") == 1) {
        FUZZ_CHECK(cardlists::ReadBackToIni(cardlists::ReadBackFilePath(3).c_str(), 3) == 1);
    }
    FUZZ_CHECK(transport.balanced());
    return 0;
}
