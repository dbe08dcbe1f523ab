// The controller's command handlers. Each family of commands lives in a file
// of its own and adds its handlers to the table in handlers.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "doorsim/simulator.h"

namespace doorsim {

// Collects what a controller sends in answer to one datagram, and tells the
// handler who sent it.
class Responder {
public:
    explicit Responder(const Datagram& request)
        : from(request.from), port(request.fromPort), request_(request) {}
    // The datagram being answered.
    const Datagram& request() const { return request_; }
    void reply(Bytes bytes) { replies_.push_back(std::move(bytes)); }
    std::vector<Bytes>& replies() { return replies_; }

    std::string from;   // the sender's address, dotted
    uint16_t port = 0;  // the sender's UDP port

private:
    const Datagram& request_;
    std::vector<Bytes> replies_;
};

// True when it recognised the datagram (answered or not).
using Handler = bool (*)(const Bytes& request, ControllerState& state, Responder& out);

const std::vector<Handler>& handlers();

// Handler families.
void add_clock_handlers(std::vector<Handler>& table);
void add_door_handlers(std::vector<Handler>& table);
void add_framed_handlers(std::vector<Handler>& table);
void add_card_handlers(std::vector<Handler>& table);
void add_device_handlers(std::vector<Handler>& table);
void add_records_handlers(std::vector<Handler>& table);

// Helpers for handlers.
extern const Bytes kAcknowledgement;
bool starts_with(const Bytes& request, std::initializer_list<uint8_t> prefix);
bool mac_at(const Bytes& request, size_t offset, const ControllerState& state);

}  // namespace doorsim
