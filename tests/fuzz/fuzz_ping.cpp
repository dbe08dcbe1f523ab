// Ping: whatever comes back on the ICMP socket, from the input. A silence is
// a receive time-out; a datagram marked as from another sender is a failed
// receive.
//   flags (bit 0: the socket cannot be opened, bit 1: the send fails), then
//   the datagrams (IPv4 header and ICMP message).
#include "devices/ping.h"
#include "support/datagram_script.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;

namespace {

class ScriptedEcho final : public devices::EchoChannel {
public:
    ScriptedEcho(fuzz::DatagramScript& script, uint8_t flags) : script_(script), flags_(flags) {}

    bool open(int) override {
        if (flags_ & 1) return false;
        ++opened_;
        return true;
    }
    void close() override { ++closed_; }
    int send(const uint8_t*, int length, uint32_t) override { return (flags_ & 2) ? -1 : length; }
    uint16_t identifier() override { return 0x1234; }
    Receive receive(uint8_t* buffer, int capacity, int, int& length, uint32_t& from) override {
        platform::Endpoint sender;
        const int received = script_.receive(buffer, capacity, sender);
        if (received == -1) return Receive::TimedOut;
        if (sender.address == fuzz::stranger_endpoint().address) return Receive::Failed;
        length = received;
        from = sender.address;
        return Receive::Received;
    }
    uint32_t tick_count_ms() override { return ticks_ += 7; }

    bool balanced() const { return opened_ == closed_; }

private:
    fuzz::DatagramScript& script_;
    uint8_t flags_;
    uint32_t ticks_ = 0;
    int opened_ = 0;
    int closed_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const uint8_t flags = in.u8();
    fuzz::DatagramScript script(in.rest(), in.remaining());
    ScriptedEcho channel(script, flags);
    devices::RunPing(channel, 0x0100007F, fuzz::home() + "/ping.ini");
    FUZZ_CHECK(channel.balanced());
    return 0;
}
