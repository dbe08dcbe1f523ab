// What the REST API and MQTT commands ask of the fleet. Each call drives a
// controller under its lease, counts the exchange in the metrics and throws:
// NotFound for an unknown controller, Refused for bad input, Unreachable when
// the controller does not answer, Busy when another process holds its lease.
// Auditing is the caller's: it knows who asked and from where.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/access.h"
#include "model/controller.h"

namespace doorlinkd {

struct ControllerStatus {
    Controller controller;
    bool reachable = false;
    std::string clock;             // the controller's "yy-mm-dd hh:mm:ss"; "" when unreachable
    std::optional<int64_t> skew;   // seconds the controller's clock is ahead of ours
    std::optional<int> doorState;  // as DoorCurState reports it, 0..3
    std::string message;           // what failed, when unreachable
};

class Fleet {
public:
    virtual ~Fleet() = default;
    // Reads the controller's clock and door state now.
    virtual ControllerStatus live_status(const std::string& name) = 0;
    // door 0..3 (Refused otherwise).
    virtual void open_door(const std::string& name, int door) = 0;
    // Sets the controller's clock to ours; returns the skew it had (seconds).
    virtual int64_t set_clock(const std::string& name) = 0;
    // Start a run in the background and return its id at once; the run
    // stores its results, events and metrics as it goes. No names: every
    // controller. NotFound for an unknown name.
    virtual int64_t start_sync(const std::vector<std::string>& names, const Actor& actor) = 0;
    virtual int64_t start_archive(const std::vector<std::string>& names, const Actor& actor) = 0;
    // The policy was saved: leavers it made are looked for at once.
    virtual void wake_leavers() = 0;
};

}  // namespace doorlinkd
