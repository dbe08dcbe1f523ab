// SysComInter: a framed command whose reply frames come from the input (the
// network and the clock are the fakes of support/fake_net.cpp and
// support/fake_clock.cpp).
//   node (two bytes), station (two bytes), command byte, payload length L
//   (two bytes, at most 1100), the payload (zero-filled), then the datagrams.
#include <cstring>
#include <memory>

#include "doorlink/doorlink.h"
#include "support/datagram_script.h"
#include "support/fake_platform.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;

namespace {
// The answer block the header tells the caller to provide: 3 + 1006 bytes.
constexpr size_t kAnswerSize = 3 + 1006;
constexpr size_t kMaxPayload = 1100;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const uint16_t node = in.u16();
    const std::vector<uint8_t> station = in.bytes(2);
    const uint8_t command = in.u8();
    const size_t length = in.u16() % (kMaxPayload + 1);
    // The command block exactly as long as its length says.
    std::unique_ptr<uint8_t[]> block(new uint8_t[3 + length]);
    block[0] = command;
    block[1] = static_cast<uint8_t>(length >> 8);
    block[2] = static_cast<uint8_t>(length & 0xFF);
    const std::vector<uint8_t> payload = in.bytes(length);
    if (length) std::memcpy(block.get() + 3, payload.data(), length);

    fuzz::DatagramScript script(in.rest(), in.remaining());
    fuzz::use_network_script(&script);
    std::unique_ptr<uint8_t[]> answer(new uint8_t[kAnswerSize]);
    SysComInter("127.0.0.1", node, 0, 0, station.data(), block.get(), answer.get());
    fuzz::use_network_script(nullptr);
    return 0;
}
