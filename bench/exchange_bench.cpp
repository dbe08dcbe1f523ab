// One command exchange against the simulator on loopback, beside a raw UDP
// request/reply loop of the same sizes as the floor it cannot beat.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"
#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"

namespace {

using doorlink::bench::Controller;

void BM_DoorShowTime(benchmark::State& state) {
    Controller c;
    char text[18];
    uint32_t weekDay;
    for (auto _ : state) {
        if (DoorShowTime(c.address.c_str(), text, &weekDay, c.mac.c_str()) != 1) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DoorShowTime)->UseRealTime();

// The same 12-byte request and 13-byte reply over one raw socket.
void BM_RawUdpRoundTrip(benchmark::State& state) {
    Controller c;
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = doorlink::bench::controller_endpoint(c.address);
    doorsim::Bytes request = {0x83, 0x38, 0x48, 0x58, 0x33, 0x00};
    auto m = c.sim.mac(c.id);
    request.insert(request.end(), m.begin(), m.end());
    uint8_t reply[1024];
    for (auto _ : state) {
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (::recv(fd, reply, sizeof reply, 0) <= 0) {
            state.SkipWithError("no reply");
            break;
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawUdpRoundTrip)->UseRealTime();

}  // namespace
