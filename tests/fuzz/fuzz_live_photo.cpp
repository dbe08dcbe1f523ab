// A pushed live photo: its blocks, in any order, from the input.
#include <cstring>
#include <memory>

#include "records/pushed.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_transport.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::clear_home();
    fuzz::DatagramScript script(data, size);
    fuzz::FuzzTransport transport(script);
    // Exactly the sizes the caller is told to provide.
    std::unique_ptr<char[]> card(new char[9]);
    std::unique_ptr<char[]> time(new char[17]);
    if (records::ReceiveLivePhoto(transport, 42, card.get(), time.get(), fuzz::fixed_time) == 1) {
        FUZZ_CHECK(std::strlen(card.get()) == 8);
        FUZZ_CHECK(std::strlen(time.get()) <= 16);
    }
    return 0;
}
