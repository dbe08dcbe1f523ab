// Every controller command, through its export, against a controller whose
// every reply comes from the input (the network and the clock are the fakes
// of support/fake_net.cpp and support/fake_clock.cpp).
//   selector (bits 0-4: the command; bit 7: the MAC text comes from the
//   input too), the command's own arguments, then the datagrams.
#include <memory>
#include <string>

#include "doorlink/doorlink.h"
#include "support/datagram_script.h"
#include "support/fake_platform.h"
#include "support/fuzz_home.h"
#include "support/fuzz_input.h"

using namespace doorlink;

namespace {

constexpr const char* kAddress = "127.0.0.1";

// A caller's buffer of exactly the size the header asks for.
struct Buffer {
    explicit Buffer(size_t size) : bytes(new char[size]()) {}
    char* get() { return bytes.get(); }
    std::unique_ptr<char[]> bytes;
};

std::unique_ptr<uint8_t[]> exact_bytes(fuzz::FuzzInput& in, size_t count) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[count]);
    const std::vector<uint8_t> bytes = in.bytes(count);
    std::copy(bytes.begin(), bytes.end(), out.get());
    return out;
}

fuzz::DatagramScript script;

// The command's arguments are read; the rest of the input is the network.
void begin(fuzz::FuzzInput& in) {
    script = fuzz::DatagramScript(in.rest(), in.remaining());
    in.skip_all();
    fuzz::use_network_script(&script);
}

void run_command(int command, fuzz::FuzzInput& in, const char* mac) {
    uint32_t a = 0;
    uint32_t b = 0;
    switch (command) {
        case 0:
            begin(in);
            DoorSetTime(kAddress, mac);
            break;
        case 1: {
            Buffer text(18);
            begin(in);
            DoorShowTime(kAddress, text.get(), &a, mac);
            break;
        }
        case 2: {
            const uint32_t door = in.u8() % 5;
            begin(in);
            DoorCompelOpenOrClose(kAddress, door, mac);
            break;
        }
        case 3: {
            const uint32_t door = in.u8() % 5;
            const int32_t extra = static_cast<int8_t>(in.u8());
            begin(in);
            MulDoorCompelOpenOrClose(kAddress, door, extra, mac);
            break;
        }
        case 4:
            begin(in);
            DoorInit(kAddress, mac);
            break;
        case 5:
            begin(in);
            DoorCurState(kAddress, mac, &a);
            break;
        case 6: {
            const int32_t extra = in.u8() * 2 - 100;
            begin(in);
            MulDoorCurState(kAddress, mac, &a, extra);
            break;
        }
        case 7: {
            const uint32_t selector = in.u8() % 5;
            begin(in);
            DoorState(kAddress, selector, mac);
            break;
        }
        case 8:
            begin(in);
            DoorRecAndDir(kAddress, &a, &b, mac);
            break;
        case 9:
        case 10:
        case 11:
        case 12: {
            const std::string lock = in.text();
            const std::string button = in.text();
            const uint8_t extra = in.u8();
            const int32_t kind = in.u8() % 4;
            begin(in);
            if (command == 9) DoorLockAndButtonTime(kAddress, lock.c_str(), button.c_str(), mac);
            if (command == 10) {
                MulDoorLockAndButtonTime(kAddress, lock.c_str(), button.c_str(), extra, mac);
            }
            if (command == 11) DoorLockAndButtonTime3(kAddress, lock.c_str(), button.c_str(), mac);
            if (command == 12) {
                LockAndButtonTime(kAddress, lock.c_str(), button.c_str(), mac, extra, kind);
            }
            break;
        }
        case 13: {
            auto modes = exact_bytes(in, 3);
            begin(in);
            SetMode(modes.get(), kAddress, mac);
            break;
        }
        case 14: {
            const uint8_t extra = in.u8();
            auto modes = exact_bytes(in, 3);
            begin(in);
            MulSetMode(modes.get(), extra, kAddress, mac);
            break;
        }
        case 15: {
            const std::string week = in.text();
            const std::string rest = in.text();
            begin(in);
            DoorRestDay(kAddress, week.c_str(), rest.c_str(), mac);
            break;
        }
        case 16:
            begin(in);
            DoorScout(kAddress, &a);
            break;
        case 17: {
            const uint8_t extra = in.u8();
            begin(in);
            DoorScout1(kAddress, extra, &a);
            break;
        }
        case 18:
            begin(in);
            PhotoTest(kAddress);
            break;
        case 19: {
            const uint8_t kind = in.u8();
            const std::string card = in.text();
            begin(in);
            DoorFlag(kAddress, kind, card.c_str(), mac);
            break;
        }
        case 20: {
            auto settings = exact_bytes(in, 15);
            begin(in);
            modifyEqm(settings.get(), kAddress, mac);
            break;
        }
        case 21:
            begin(in);
            DoorTransIP(kAddress, &a, mac);
            break;
        case 22: {
            Buffer text(13);
            auto newMac = exact_bytes(in, 6);
            begin(in);
            SetMacAddr(kAddress, newMac.get(), text.get());
            break;
        }
        default: {
            const int32_t mode = in.u8() % 4;
            const std::string given = in.text(12);
            Buffer first(13);
            Buffer second(13);
            if (mode == 2) given.copy(first.get(), 12);
            if (mode == 3) given.copy(second.get(), 12);
            begin(in);
            MacInfo(kAddress, mode, first.get(), second.get());
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    fuzz::clear_home();
    const uint8_t selector = in.u8();
    const std::string mac = (selector & 0x80) ? in.text(16) : std::string("0011223344AA");
    const int command = (selector & 0x1F) % 24;
    run_command(command, in, mac.c_str());
    fuzz::use_network_script(nullptr);
    return 0;
}
