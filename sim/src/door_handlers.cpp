// Door actuation, state queries, lock and button times, modes, rest days,
// monitoring, photo test and card flags, as a controller answers them.
#include <algorithm>

#include "handlers.h"

namespace doorsim {
namespace {

const uint8_t kDoorPatterns[4][6] = {
    {0x51, 0x15, 0x25, 0x35, 0x88, 0x99},
    {0x52, 0x25, 0x35, 0x45, 0x99, 0x00},
    {0x53, 0x35, 0x45, 0x55, 0x00, 0x11},
    {0x54, 0x45, 0x55, 0x65, 0x11, 0x22},
};

int door_of(const Bytes& r) {
    for (int door = 0; door < 4; ++door) {
        if (std::equal(kDoorPatterns[door], kDoorPatterns[door] + 6, r.begin() + 6)) return door;
    }
    return -1;
}

// 0x63 0x36 0x46 0x56 0x11 0x22 pattern [extra] MAC [0x00]
bool actuate(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x63, 0x36, 0x46, 0x56, 0x11, 0x22})) return false;
    if (r.size() != 18 && r.size() != 20) return true;
    const bool withExtra = r.size() == 20;
    if (!mac_at(r, withExtra ? 13 : 12, s)) return true;
    int door = door_of(r);
    if (door < 0) return true;
    ++s.doors.forcedActuations[static_cast<size_t>(door)];
    s.doors.lastActuationExtra = withExtra ? r[12] : -1;
    out.reply(kAcknowledgement);
    return true;
}

bool initialise(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x31, 0x13, 0x23, 0x33, 0x66})) return false;
    if (r.size() != 12 || !mac_at(r, 5, s)) return true;
    ++s.doors.initialisations;
    out.reply(kAcknowledgement);
    return true;
}

// 0x82 0x28 0x38 0x48 0x22 selector [extra] MAC
bool state_query(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x82, 0x28, 0x38, 0x48, 0x22}) || r.size() < 6) return false;
    const uint8_t selector = r[5];
    if (selector == 4) {
        const bool withExtra = r.size() == 14;
        if ((r.size() != 12 && !withExtra) || !mac_at(r, withExtra ? 7 : 6, s)) return true;
        Bytes reply(r.begin(), r.begin() + 6);
        reply.push_back(s.doors.currentState[0]);
        reply.push_back(s.doors.currentState[1]);
        reply.resize(10, 0x00);
        out.reply(std::move(reply));
        return true;
    }
    if (selector > 3 || r.size() != 12 || !mac_at(r, 6, s)) return true;
    out.reply(s.doors.stateReplies[selector]);
    return true;
}

// 0x83 0x38 0x48 0x58 0x33 0x01 MAC: records and direction.
bool records_and_direction(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x83, 0x38, 0x48, 0x58, 0x33, 0x01})) return false;
    if (r.size() != 12 || !mac_at(r, 6, s)) return true;
    Bytes reply(r.begin(), r.begin() + 6);
    reply.push_back(static_cast<uint8_t>(s.doors.records >> 8));
    reply.push_back(static_cast<uint8_t>(s.doors.records & 0xFF));
    reply.push_back(static_cast<uint8_t>(s.doors.direction >> 8));
    reply.push_back(static_cast<uint8_t>(s.doors.direction & 0xFF));
    reply.resize(14, 0x00);
    out.reply(std::move(reply));
    return true;
}

// 0x62 0x26 0x36 0x46 0x00 0x11, six kind bytes (0x02 times, 0x01 rest days).
bool times_and_rest_days(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x62, 0x26, 0x36, 0x46, 0x00, 0x11}) || r.size() < 12) return false;
    auto all = [&](uint8_t v) {
        return std::all_of(r.begin() + 6, r.begin() + 12, [v](uint8_t b) { return b == v; });
    };
    auto slots = [&](size_t at, size_t n) {
        return Bytes(r.begin() + static_cast<long>(at), r.begin() + static_cast<long>(at + n));
    };
    if (all(0x02)) {
        if (r.size() == 50 && mac_at(r, 44, s)) {
            s.doors.lockSlots = slots(12, 16);
            s.doors.buttonSlots = slots(28, 16);
            s.doors.longTimeItems = false;
            s.doors.timesExtra = -1;
        } else if (r.size() == 52 && mac_at(r, 45, s)) {
            s.doors.lockSlots = slots(12, 16);
            s.doors.buttonSlots = slots(28, 16);
            s.doors.longTimeItems = false;
            s.doors.timesExtra = r[44];
        } else if (r.size() == 58 && mac_at(r, 52, s)) {
            s.doors.lockSlots = slots(12, 20);
            s.doors.buttonSlots = slots(32, 20);
            s.doors.longTimeItems = true;
            s.doors.timesExtra = -1;
        } else {
            return true;
        }
        out.reply(kAcknowledgement);
        return true;
    }
    if (all(0x01) && r.size() == 106 && mac_at(r, 99, s)) {
        std::copy(r.begin() + 12, r.begin() + 19, s.doors.week.begin());
        std::copy(r.begin() + 19, r.begin() + 59, s.doors.restDays.begin());
        out.reply(kAcknowledgement);
    }
    return true;
}

// 0x33 0x33 0x43 0x53 0x88, then (modes [extra] MAC) twice, 0x00.
bool modes(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x33, 0x33, 0x43, 0x53, 0x88})) return false;
    const bool withExtra = r.size() == 26;
    if (r.size() != 24 && !withExtra) return true;
    const size_t block = withExtra ? 10 : 9;
    if (!mac_at(r, 5 + block - 6, s) || !std::equal(r.begin() + 5, r.begin() + 5 + static_cast<long>(block),
                                                    r.begin() + 5 + static_cast<long>(block)))
        return true;
    std::copy(r.begin() + 5, r.begin() + 8, s.doors.modes.begin());
    s.doors.modesExtra = withExtra ? r[8] : -1;
    out.reply(kAcknowledgement);
    return true;
}

// 0x91 0x19 0x29 0x39 0x22 [extra 0x00 0x00]: report to the sender from now on.
bool scout(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x91, 0x19, 0x29, 0x39, 0x22})) return false;
    if (r.size() != 6 && r.size() != 8) return true;
    s.monitor.set = true;
    s.monitor.address = out.request().from;
    s.monitor.port = out.request().fromPort;
    s.doors.scoutExtra = r.size() == 8 ? r[5] : -1;
    out.reply(kAcknowledgement);
    return true;
}

bool photo_test(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x45, 0x54, 0x64, 0x74, 0x11}) || r.size() != 5) return false;
    ++s.doors.photoTests;
    out.reply(kAcknowledgement);
    return true;
}

// Flag code, site, number high, number low, three zeros, MAC.
bool card_flag(const Bytes& r, ControllerState& s, Responder& out) {
    if (!starts_with(r, {0x71, 0x17, 0x27, 0x37}) && !starts_with(r, {0x72, 0x27, 0x37, 0x47})) return false;
    if (r.size() != 16 || !mac_at(r, 10, s)) return true;
    s.doors.cardFlags[{r[4], r[5], r[6]}] = r[0];
    out.reply({0x74, 0x47, 0x57, 0x67, r[4], r[5], r[6], 0x00, 0x00, 0x00});
    return true;
}

}  // namespace

void add_door_handlers(std::vector<Handler>& table) {
    for (Handler h : {actuate, initialise, state_query, records_and_direction, times_and_rest_days, modes,
                      scout, photo_test, card_flag}) {
        table.push_back(h);
    }
}

}  // namespace doorsim
