// Discovery: the replies that arrive after the discovery request come from
// the input, and so may the device registry file they are recorded in.
//   flags (bit 0: broadcast, with the trace of every receive; bit 1: a
//   registry file is given), the registry file (two-byte length, then its
//   text) when given, then the datagrams.
#include <string>

#include "core/paths.h"
#include "devices/discovery.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"
#include "support/fuzz_transport.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const uint8_t flags = in.u8();
    const std::string registry = core::registry_path();
    if (flags & 2) fuzz::write_file(registry, in.long_text());

    fuzz::DatagramScript script(in.rest(), in.remaining());
    fuzz::FuzzTransport transport(script);
    size_t traced = 0;
    auto setup = [](core::SocketHandle) {};
    auto trace = [&](const char* text) { traced += std::string(text).size(); };
    const int32_t result =
        devices::RunDiscovery(transport, "127.0.0.1", (flags & 1) != 0, registry, setup, trace);
    FUZZ_CHECK(result >= 0);
    FUZZ_CHECK(transport.balanced());
    return 0;
}
