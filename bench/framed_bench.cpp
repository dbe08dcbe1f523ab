// One framed command (echo of 64 bytes) against the simulator on loopback,
// to compare with the command exchange and the raw round trip beside it.
#include <benchmark/benchmark.h>

#include <vector>

#include "doorlink/doorlink.h"
#include "doorsim/simulator.h"

namespace {

void BM_SysComInterEcho(benchmark::State& state) {
    doorsim::Simulator sim;
    int id = sim.add_controller({});
    sim.start();
    const std::string address = sim.address(id);
    const doorsim::FramedState framed = sim.state(id).framed;
    std::vector<uint8_t> block = {doorsim::kFramedEcho, 0x00, 64};
    block.resize(3 + 64, 0x5A);
    std::vector<uint8_t> answer(3 + 1024);
    for (auto _ : state) {
        if (SysComInter(address.c_str(), framed.node, 0, 0, framed.station.data(), block.data(),
                        answer.data()) != 1) {
            state.SkipWithError("no answer");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SysComInterEcho)->UseRealTime();

}  // namespace
