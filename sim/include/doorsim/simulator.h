// doorsim: simulated door access controllers on loopback UDP.
//
// Each controller listens on UDP port 9000 of its own address and answers the
// controller protocol as a controller would. A test runs a Simulator in its
// own process and can inspect every datagram a controller received, read and
// change its state, inject faults (loss, silence, duplicates, delays, wrong
// replies, replies from another address) or script replies itself. A thread
// per core serves the controllers, each controller always on the same thread,
// so that it handles its datagrams in the order they came.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doorsim/cards_state.h"
#include "doorsim/doors_state.h"
#include "doorsim/framed_state.h"
#include "doorsim/records_state.h"

namespace doorsim {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kControllerPort = 9000;

struct Datagram {
    Bytes bytes;
    std::string from;  // sender address, dotted
    uint16_t fromPort = 0;
    std::string to;  // the controller address it arrived at
    Clock::time_point at;
};

// Where a controller sends what it pushes unasked (error reports, photos):
// set by the monitoring request and by the return-address request.
struct MonitorTarget {
    bool set = false;
    std::string address;
    uint16_t port = 0;
};

// What a controller knows and keeps. Later command families add their parts.
struct ControllerState {
    std::string address;
    Mac mac{};
    uint8_t deviceNumber = 1;
    std::array<uint8_t, 4> mask{255, 255, 255, 0};
    std::array<uint8_t, 4> gateway{0, 0, 0, 0};
    uint8_t imageMode = 1;
    uint8_t timeValue = 0;

    // The controller's clock runs at the host's pace, offset by this much.
    int64_t clockOffsetSeconds = 0;
    // The day-of-week value last set, relative to the true day of the week.
    int weekDayShift = 0;
    int clockSets = 0;

    MonitorTarget monitor;
    DoorsState doors;
    FramedState framed;

    CardListState cards;
    RecordsState records;
};

struct ControllerConfig {
    std::string address;  // empty: the first free loopback address
    Mac mac{0x00, 0xA0, 0xC9, 0x00, 0x00, 0x01};
    uint8_t deviceNumber = 1;
};

// Faults of one controller. Counters count down as they are used.
struct Faults {
    bool silent = false;        // no request gets an answer
    int ignoreNext = 0;         // the next N requests get no answer
    double dropRate = 0.0;      // chance that a request is lost
    int wrongRepliesFirst = 0;  // the next N answers are wrongReply instead
    Bytes wrongReply = Bytes(10, 0xEE);
    int duplicates = 0;     // every answer goes out 1 + duplicates times
    int delayMs = 0;        // every answer goes out this much later
    std::string replyFrom;  // answer from this other loopback address (port 9000)
    // A peer replaying old answers: once the controller has answered this
    // many requests, every request (every copy of one too) gets one datagram
    // that the controller sent before, an answer or a push, chosen at
    // random, and changes nothing in its state. -1: never.
    int replayAfter = -1;

    // A lossy network, each datagram on its own (dropRate is the way in):
    double duplicateRate = 0.0;  // chance that a request, an answer or a push arrives twice
    double reorderRate = 0.0;    // chance that an answer or push is held back reorderMs,
    int reorderMs = 20;          // so that later ones overtake it
    double pushLossRate = 0.0;   // chance that a pushed datagram is lost

    // Whether the way to the host may lose, hold back or repeat what the
    // controller sends, so that it cannot know what arrived.
    bool disturbs_way_out() const { return duplicateRate > 0 || reorderRate > 0 || pushLossRate > 0; }
};

// A script sees every request first; when it returns replies, they are sent
// (subject to the delay and duplicate faults) instead of the controller's own.
// It runs on a thread of the simulator with the controller's lock held, so it
// must not call the Simulator itself; it may change the state it is given.
using Script = std::function<std::optional<std::vector<Bytes>>(const Datagram&, ControllerState&)>;

class Simulator {
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Adds a controller and binds its socket; returns its id. Throws
    // std::runtime_error when its address cannot be bound.
    int add_controller(const ControllerConfig& config = {});

    void start();
    void stop();

    // A hex line for every datagram in and out.
    void set_log(std::ostream* log);
    // Writes every datagram in and out to a new capture file at path (see
    // doorsim/capture.h); an empty path stops capturing. False when the file
    // cannot be written.
    bool set_capture(const std::string& path);

    size_t controller_count() const;
    std::string address(int id) const;
    Mac mac(int id) const;
    std::string mac_text(int id) const;

    std::vector<Datagram> received(int id) const;
    size_t received_count(int id) const;
    void clear_received(int id);
    // Waits until the controller has received at least count datagrams.
    bool wait_received(int id, size_t count, std::chrono::milliseconds timeout) const;

    void set_faults(int id, const Faults& faults);
    Faults faults(int id) const;
    void set_script(int id, Script script);

    // Sends bytes from the controller's socket to its monitoring target;
    // false when it has none. Pushes go only to loopback addresses or to the
    // network namespace the controller lives in.
    bool push(int id, const Bytes& bytes);

    // Keeps each controller's card list in DIR/cards-<mac>.bin: loaded now
    // and when a controller is added, saved when a download completes and
    // when the simulator stops.
    void set_state_directory(const std::string& directory);
    // Also listens on the wildcard address, UDP port 9000, and hands every
    // datagram heard there (a discovery broadcast) to every controller, which
    // answers from its own address. Only for a simulator inside a network
    // namespace of a test: it also lets pushes and moves leave loopback.
    // False when the listener cannot be bound.
    bool listen_for_broadcasts();

    ControllerState state(int id) const;
    void update_state(int id, const std::function<void(ControllerState&)>& change);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The first loopback address from which a socket can bind UDP port 9000,
// searched from a start that differs between processes.
std::string find_free_loopback_address();

std::string hex(const Bytes& bytes);
std::string mac_to_text(const Mac& mac);
bool mac_from_text(const std::string& text, Mac& mac);

}  // namespace doorsim
