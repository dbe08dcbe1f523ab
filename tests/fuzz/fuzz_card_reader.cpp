// GetCardNo: the card reader's bytes, their arrival and line errors come from
// the input (the serial port and the clock are the fakes of
// support/fake_serial.cpp and support/fake_clock.cpp; see fake_platform.h
// for the script).
#include <cstring>
#include <memory>

#include "doorlink/doorlink.h"
#include "support/fake_platform.h"
#include "support/fuzz_home.h"

using namespace doorlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::use_serial_script(data, size);
    // The 20 bytes the header asks for.
    std::unique_ptr<char[]> result(new char[20]);
    if (GetCardNo("/dev/ttyFUZZ0", result.get()) == 1) {
        FUZZ_CHECK(std::strlen(result.get()) == 19 && result[10] == ',');
    }
    FUZZ_CHECK(!fuzz::serial_port_open());
    return 0;
}
