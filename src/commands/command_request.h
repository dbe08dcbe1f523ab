// What the door commands share: their acknowledged exchange and the standard
// profile variations.
#pragma once

#include <array>
#include <cstdint>

#include "core/exchange.h"
#include "core/mac.h"

namespace doorlink::commands {

// The profile of commands that wait 1000 ms after the first send.
inline core::ExchangeProfile acknowledged_after_wait() {
    core::ExchangeProfile p;
    p.waitAfterFirstSend = true;
    return p;
}

// The profile of commands that wait 1000 ms and clear the reply buffer before
// every receive.
inline core::ExchangeProfile acknowledged_after_every_wait() {
    core::ExchangeProfile p;
    p.waitAfterFirstSend = true;
    p.waitBeforeLaterReceive = true;
    p.clearBeforeEachReceive = true;
    return p;
}

// Runs the exchange over UDP and gives its 1 or 0.
template <size_t N>
uint32_t command_exchange(const char* address, const std::array<uint8_t, N>& request,
                          const core::ExchangeProfile& profile = {}, core::ResultStep step = {}) {
    return core::RunExchange(core::udp_transport(), address, request, profile, step).result;
}

}  // namespace doorlink::commands
