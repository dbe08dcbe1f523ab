#include "devices/discovery.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "core/bytes.h"
#include "core/exchange.h"
#include "core/export_guard.h"
#include "core/library_state.h"
#include "core/paths.h"
#include "devices/registry.h"
#include "doorlink/doorlink.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/trace.h"

namespace doorlink::devices {
namespace {

// Reply layout.
constexpr size_t kDeviceNumberAt = 5;
constexpr size_t kAddressAt = 6;
constexpr size_t kImageModeAt = 10;
constexpr size_t kTimeValueAt = 11;
constexpr size_t kMaskAt = 12;
constexpr size_t kGatewayAt = 16;
constexpr int kReceiveCapacity = 1024;
constexpr size_t kAddressValueSize = 20;  // each "EqmIP%d" is read into 20 bytes
constexpr size_t kTraceBytesPerLine = 50;

// Formats like sprintf into 1024 bytes and passes the text on. A C variadic
// function, so that the compiler checks each format against its arguments.
// NOLINTNEXTLINE(cert-dcl50-cpp)
__attribute__((format(printf, 2, 3))) void DebugTrace(TraceSink sink, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink(text);
}

void trace_receive(TraceSink sink, int result, const core::Endpoint& from, const uint8_t* bytes) {
    DebugTrace(sink, "\nnRet=%d, From:%s", result, platform::ipv4_to_text(from.address).c_str());
    for (int k = 0; k < result; ++k) {
        if (k % kTraceBytesPerLine == 0) DebugTrace(sink, "\n");
        DebugTrace(sink, "%02X ", bytes[k]);
    }
    DebugTrace(sink, "\n");
}

bool is_valid_reply(const uint8_t* bytes, int length) {
    core::ByteReader r(bytes, static_cast<size_t>(length));
    return length == kDiscoveryReplyLength && r.equals(0, kDiscoverySignature) && r.u8(kDeviceNumberAt) != 0;
}

// Records the controller the reply describes; returns "EqmTotal" as it was
// before the reply's own entry was added.
int64_t accept_reply(const uint8_t* reply, const std::string& path) {
    RegistryEntry entry;
    entry.address = DottedText(reply + kAddressAt);
    entry.deviceNumber = std::to_string(reply[kDeviceNumberAt]);
    entry.mask = DottedText(reply + kMaskAt);
    entry.timeValue = std::to_string(reply[kTimeValueAt]);
    entry.gateway = DottedText(reply + kGatewayAt);
    entry.imageMode = ImageModeText(reply[kImageModeAt]);
    // Lookup and write as one step, so that discoveries running at once on
    // several threads never give two controllers the same new index.
    std::lock_guard<platform::Mutex> hold(core::LibraryState::get().lock());
    EntryLookup lookup = FindRegistryEntry(path, entry.address.c_str(), kAddressValueSize);
    WriteRegistryEntry(path, lookup.index, entry, kDiscoveryKeyOrder);
    if (lookup.index > lookup.total) WriteRegistryTotal(path, lookup.index);
    return lookup.total;
}

// A copy of a reply recorded in this call (networks repeat datagrams, peers
// replay them) would write the same entry again; its entry is in the
// registry, so "EqmTotal" before it is the total as it stands.
int64_t accept_copy(const std::string& path) {
    std::lock_guard<platform::Mutex> hold(core::LibraryState::get().lock());
    return ReadRegistryTotal(path);
}

}  // namespace

int32_t RunDiscovery(core::Transport& transport, const char* address, bool broadcast,
                     const std::string& registryPath, BroadcastSetup setup, TraceSink trace,
                     const DiscoveryLimits& limits) {
    uint16_t localPort = 0;
    core::SocketHandle socket = transport.open(localPort);
    if (socket == 0) return -1;

    core::Endpoint peer;
    if (broadcast) {
        if (setup) setup(socket);
        peer.address = 0xFFFFFFFFu;
        peer.port = platform::port_to_network(core::kControllerPort);
    } else {
        peer = core::MakeControllerAddress(address);
    }

    uint8_t request[kDiscoveryRequestLength] = {};
    core::ByteWriter(request, sizeof request).bytes(0, kDiscoverySignature).u8(5, 0x00);
    const int copies = broadcast ? 1 : kUnicastCopies;
    for (int i = 0; i < copies; ++i) {
        if (transport.send(socket, request, kDiscoveryRequestLength, peer) == -1) {
            transport.close(socket);
            return -1;
        }
    }

    uint8_t buffer[kReceiveCapacity] = {};
    int failures = 0;
    int ignoredInRow = 0;
    int accepted = 0;
    int64_t resultValue = 0;
    std::set<std::array<uint8_t, kDiscoveryReplyLength>> recorded;
    const uint32_t started = platform::tick_count_ms();
    // A peer that keeps sending replies, each with an address of its own,
    // must neither hold the caller forever nor grow the registry without end.
    while (accepted < limits.acceptedReplies && platform::tick_count_ms() - started < limits.durationMs) {
        const int result = transport.receive(socket, buffer, kReceiveCapacity, peer);
        if (broadcast && trace) trace_receive(trace, result, peer, buffer);
        if (result == -1) {
            if (failures == kFailedReceivesTolerated) break;
            ++failures;
            continue;
        }
        if (!is_valid_reply(buffer, result)) {
            // A peer that floods the socket with other datagrams must not
            // hold the caller forever.
            if (++ignoredInRow >= core::kMaxRejectedReplies) break;
            continue;
        }
        ignoredInRow = 0;
        ++accepted;
        std::array<uint8_t, kDiscoveryReplyLength> reply;
        std::memcpy(reply.data(), buffer, reply.size());
        resultValue =
            recorded.insert(reply).second ? accept_reply(buffer, registryPath) : accept_copy(registryPath);
    }
    transport.close(socket);
    return static_cast<int32_t>(resultValue);
}

}  // namespace doorlink::devices

using namespace doorlink;

extern "C" DOORLINK_API int32_t DOORLINK_CALL FindEqm(const char* address, uint8_t broadcast) {
    return core::guarded<int32_t>(-1, [&]() -> int32_t {
        const bool toBroadcast = broadcast == 1;
        if (!toBroadcast && !address) return 0;
        auto setup = [](core::SocketHandle socket) {
            platform::socket_set_receive_timeout(socket, devices::kBroadcastReceiveTimeoutMs);
            platform::socket_set_broadcast(socket);
        };
        auto trace = [](const char* text) { platform::debug_trace(text); };
        return devices::RunDiscovery(core::udp_transport(), address, toBroadcast, core::registry_path(),
                                     setup, trace);
    });
}
