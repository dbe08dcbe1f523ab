// Controller discovery: one discovery request (broadcast once, or sent five
// times to one address), then every valid reply that keeps arriving creates
// or updates a registry entry, until the sixth failed receive of the call or
// one of the limits below.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/function_ref.h"
#include "core/transport.h"

namespace doorlink::devices {

constexpr std::array<uint8_t, 5> kDiscoverySignature = {0x48, 0x84, 0x94, 0x04, 0x44};
constexpr int kDiscoveryRequestLength = 6;
constexpr int kDiscoveryReplyLength = 36;
constexpr int kUnicastCopies = 5;
constexpr int kFailedReceivesTolerated = 5;  // the sixth ends the call
constexpr int kBroadcastReceiveTimeoutMs = 3000;

// Whatever peers send, one call records at most this many replies and stops
// receiving once this much time has passed since its requests went out (the
// receive under way may add one readiness wait). A network's controllers
// answer within the first second, and the six failed receives that end a
// call take about 12 seconds.
struct DiscoveryLimits {
    int acceptedReplies = 4096;
    uint32_t durationMs = 60000;
};

// Where the discovery trace goes (the platform's debugger output).
using TraceSink = core::FunctionRef<void(const char* text)>;
// Gives a broadcast socket its receive time-out and broadcast permission.
using BroadcastSetup = core::FunctionRef<void(core::SocketHandle socket)>;

// The "EqmTotal" read while accepting the last valid reply (0 when none was
// accepted), or -1 when the socket cannot be opened or a send fails.
int32_t RunDiscovery(core::Transport& transport, const char* address, bool broadcast,
                     const std::string& registryPath, BroadcastSetup setup, TraceSink trace,
                     const DiscoveryLimits& limits = {});

}  // namespace doorlink::devices
