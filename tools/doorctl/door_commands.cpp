// doorctl door|locktimes|mode|restdays|monitor|photo-test|flag
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "cli.h"
#include "doorlink/doorlink.h"

namespace doorctl {
namespace {

struct DoorOptions {
    Target target;
    uint32_t door = 0;
    int extra = -1;  // -1: the variant without an extra byte
    int selector = -1;
    std::string lock, button, days, week = "0000011";
    std::vector<int> modes;
    bool longItems = false;
    int kind = 1;
    std::string card;
};

// A command that answers with an acknowledgement only.
Result acknowledged(bool ok, const std::string& exportName, const Target& t, const std::string& done,
                    const std::string& failure) {
    if (!ok) return not_confirmed(exportName, t, failure);
    return Result().set("address", t.address).line(done);
}

Result open_door(const DoorOptions& o) {
    const char* a = o.target.address.c_str();
    const char* m = o.target.mac.c_str();
    const bool plain = o.extra < 0;
    bool ok = plain ? DoorCompelOpenOrClose(a, o.door, m) == 1
                    : MulDoorCompelOpenOrClose(a, o.door, o.extra, m) == 1;
    return acknowledged(ok, plain ? "DoorCompelOpenOrClose" : "MulDoorCompelOpenOrClose", o.target,
                        "door {door} actuated",
                        "the controller at " + o.target.address + " did not acknowledge door " +
                            std::to_string(o.door) + " (doors are 0..3)")
        .set("door", o.door);
}

Result show_state(const DoorOptions& o) {
    const char* a = o.target.address.c_str();
    const char* m = o.target.mac.c_str();
    if (o.selector >= 0) {
        const uint8_t* reply = DoorState(a, static_cast<uint32_t>(o.selector), m);
        if (!reply) {
            return not_confirmed("DoorState", o.target,
                                 "no state reply for selector " + std::to_string(o.selector));
        }
        const size_t length = o.selector == 1 ? 14 : 10;
        return Result()
            .set("address", o.target.address)
            .set("selector", o.selector)
            .set("reply", hex_bytes(reply, length))
            .line("{reply}");
    }
    uint32_t state = 0;
    const bool plain = o.extra < 0;
    bool ok = plain ? DoorCurState(a, m, &state) == 1 : MulDoorCurState(a, m, &state, o.extra) == 1;
    Result r = acknowledged(ok, plain ? "DoorCurState" : "MulDoorCurState", o.target,
                            "current state: {state}", "no valid current state from " + o.target.address);
    if (r.ok()) r.set("state", state);
    return r;
}

Result set_lock_times(const DoorOptions& o) {
    const char* a = o.target.address.c_str();
    const char* m = o.target.mac.c_str();
    int kind = o.longItems ? 1 : (o.extra >= 0 ? 2 : 0);
    bool ok = LockAndButtonTime(a, o.lock.c_str(), o.button.c_str(), m, o.extra, kind) == 1;
    return acknowledged(ok, "LockAndButtonTime", o.target, "lock and button times stored",
                        "the controller did not acknowledge the times");
}

Result set_modes(const DoorOptions& o) {
    if (o.modes.size() != 3) return Result::failure(kUsageError, "--modes needs three bytes, e.g. 1,2,3");
    const uint8_t modes[3] = {static_cast<uint8_t>(o.modes[0]), static_cast<uint8_t>(o.modes[1]),
                              static_cast<uint8_t>(o.modes[2])};
    const char* a = o.target.address.c_str();
    const char* m = o.target.mac.c_str();
    const bool plain = o.extra < 0;
    bool ok = plain ? SetMode(modes, a, m) == 1 : MulSetMode(modes, static_cast<uint8_t>(o.extra), a, m) == 1;
    return acknowledged(ok, plain ? "SetMode" : "MulSetMode", o.target, "modes stored",
                        "the controller did not acknowledge the modes");
}

Result set_rest_days(const DoorOptions& o) {
    bool ok =
        DoorRestDay(o.target.address.c_str(), o.week.c_str(), o.days.c_str(), o.target.mac.c_str()) == 1;
    return acknowledged(ok, "DoorRestDay", o.target, "week pattern and rest days stored",
                        "the controller did not acknowledge the rest days (the week needs 7 characters)");
}

// Opens a monitoring socket, prints the result, keeps the socket open for
// listenSeconds and closes it.
bool start_monitoring(const std::string& address, int extra, int listenSeconds) {
    uint32_t socket = 0;
    const bool plain = extra < 0;
    bool ok = plain ? DoorScout(address.c_str(), &socket) == 1
                    : DoorScout1(address.c_str(), static_cast<uint8_t>(extra), &socket) == 1;
    Result r = acknowledged(ok, plain ? "DoorScout" : "DoorScout1", {address, ""},
                            "monitoring socket {socket} is open",
                            "the controller at " + address + " did not accept monitoring");
    if (r.ok()) r.set("socket", socket).set("listen_seconds", listenSeconds);
    if (!emit(r)) return false;
    for (int s = 0; s < listenSeconds; ++s) std::this_thread::sleep_for(std::chrono::seconds(1));
    ::close(static_cast<int>(socket));
    return true;
}

Result photo_test(const std::string& address) {
    return acknowledged(PhotoTest(address.c_str()) == 1, "PhotoTest", {address, ""},
                        "photo test acknowledged", "the controller did not acknowledge the photo test");
}

Result flag_card(const DoorOptions& o) {
    bool ok = DoorFlag(o.target.address.c_str(), static_cast<uint8_t>(o.kind), o.card.c_str(),
                       o.target.mac.c_str()) == 1;
    return acknowledged(ok, "DoorFlag", o.target, "card {card} flagged (kind {kind})",
                        "the controller did not confirm card " + o.card)
        .set("card", o.card)
        .set("kind", o.kind);
}

// What the embedded controller now holds, as hex.
void show_held(const std::string& what, const std::vector<uint8_t>& bytes) {
    note("  the controller holds " + what + ": " + doorsim::hex(bytes) + "\n");
}

CLI::Option* add_extra(CLI::App* c, DoorOptions& o) {
    return c->add_option("--extra", o.extra, "send the variant with this extra byte")
        ->check(CLI::Range(0, 255));
}

}  // namespace

void add_door_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto o = std::make_shared<DoorOptions>();

    auto* door = app.add_subcommand("door", "force doors and query their states");
    door->require_subcommand(1);
    auto* open = door->add_subcommand("open", "force the actuation of a door");
    add_target(open, o->target);
    open->add_option("--door", o->door, "door 0..3")->capture_default_str();
    add_extra(open, *o);
    open->callback([o] { emit(open_door(*o)); });
    auto* init = door->add_subcommand("init", "send the initialisation command");
    add_target(init, o->target);
    init->callback([o] {
        emit(acknowledged(DoorInit(o->target.address.c_str(), o->target.mac.c_str()) == 1, "DoorInit",
                          o->target, "controller initialised",
                          "the controller did not acknowledge the initialisation"));
    });
    auto* state = door->add_subcommand("state", "print the current state, or a raw state reply");
    add_target(state, o->target);
    state->add_option("--selector", o->selector, "print the raw reply of selector 0..3")
        ->check(CLI::Range(0, 3));
    add_extra(state, *o);
    state->callback([o] { emit(show_state(*o)); });
    auto* recdir = door->add_subcommand("recdir", "print the record and direction values");
    add_target(recdir, o->target);
    recdir->callback([o] {
        uint32_t rec = 0, dir = 0;
        Result r =
            acknowledged(DoorRecAndDir(o->target.address.c_str(), &rec, &dir, o->target.mac.c_str()) == 1,
                         "DoorRecAndDir", o->target, "records {records}, direction {direction}",
                         "no record and direction values from " + o->target.address);
        if (r.ok()) r.set("records", rec).set("direction", dir);
        emit(r);
    });

    auto* lock = app.add_subcommand("locktimes", "lock and button times");
    lock->require_subcommand(1);
    auto* lockSet = lock->add_subcommand("set", "store lock and button time lists");
    add_target(lockSet, o->target);
    lockSet->add_option("--lock", o->lock, "lock items, e.g. 0830,1730 (long: 0800-1200-01;...)");
    lockSet->add_option("--button", o->button, "button items, same form");
    lockSet->add_flag("--long", o->longItems, "items of five numbers (hhmm-hhmm-nn;)");
    add_extra(lockSet, *o);
    lockSet->callback([o] { emit(set_lock_times(*o)); });

    auto* mode = app.add_subcommand("mode", "the controller's three mode bytes");
    mode->require_subcommand(1);
    auto* modeSet = mode->add_subcommand("set", "store the mode bytes");
    add_target(modeSet, o->target);
    modeSet->add_option("--modes", o->modes, "three bytes, e.g. 1,2,3")->delimiter(',')->required();
    add_extra(modeSet, *o);
    modeSet->callback([o] { emit(set_modes(*o)); });

    auto* rest = app.add_subcommand("restdays", "the week pattern and rest days");
    rest->require_subcommand(1);
    auto* restSet = rest->add_subcommand("set", "store the week pattern and up to 20 rest days");
    add_target(restSet, o->target);
    restSet->add_option("--week", o->week, "7 characters from Sunday, 1 = rest day")->capture_default_str();
    restSet->add_option("--days", o->days, "rest days mmdd, e.g. 0101,1225");
    restSet->callback([o] { emit(set_rest_days(*o)); });

    auto* monitor = app.add_subcommand("monitor", "monitoring sockets");
    monitor->require_subcommand(1);
    auto listen = std::make_shared<int>(0);
    auto* start = monitor->add_subcommand("start", "ask a controller to report to this host");
    start->add_option("ADDRESS", o->target.address, "controller address")->required();
    add_extra(start, *o);
    start->add_option("--listen", *listen, "keep the socket open this many seconds");
    start->callback([o, listen] { start_monitoring(o->target.address, o->extra, *listen); });

    auto* photo = app.add_subcommand("photo-test", "ask a controller to take a test photo");
    photo->add_option("ADDRESS", o->target.address, "controller address")->required();
    photo->callback([o] { emit(photo_test(o->target.address)); });

    auto* flag = app.add_subcommand("flag", "flag a card (kind 1, or the other flag)");
    add_target(flag, o->target);
    flag->add_option("CARD", o->card, "card text sssnnnnn")->required();
    flag->add_option("--kind", o->kind, "1, or any other value for the other flag")->capture_default_str();
    flag->callback([o] { emit(flag_card(*o)); });

    demo.push_back({"force door 1 open", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        d.door = 1;
                        return emit(open_door(d));
                    }});
    demo.push_back({"query the current door state", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        return emit(show_state(d));
                    }});
    demo.push_back({"store lock times 08:30 and 17:30 and button time 12:00", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        d.lock = "0830,1730";
                        d.button = "1200";
                        if (!emit(set_lock_times(d))) return false;
                        auto held = c.sim->state(c.id).doors;
                        show_held("lock slots", held.lockSlots);
                        show_held("button slots", held.buttonSlots);
                        return true;
                    }});
    demo.push_back({"store modes 1, 2, 3", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        d.modes = {1, 2, 3};
                        if (!emit(set_modes(d))) return false;
                        auto held = c.sim->state(c.id).doors.modes;
                        show_held("modes", {held.begin(), held.end()});
                        return true;
                    }});
    demo.push_back({"store weekends and 1 January, 25 December as rest days", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        d.week = "1000001";
                        d.days = "0101,1225";
                        if (!emit(set_rest_days(d))) return false;
                        auto held = c.sim->state(c.id).doors;
                        show_held("week", {held.week.begin(), held.week.end()});
                        show_held("rest days", {held.restDays.begin(), held.restDays.begin() + 4});
                        return true;
                    }});
    demo.push_back(
        {"open a monitoring socket", [](DemoContext& c) { return start_monitoring(c.address, -1, 0); }});
    demo.push_back({"take a test photo", [](DemoContext& c) { return emit(photo_test(c.address)); }});
    demo.push_back({"flag card 00112345", [](DemoContext& c) {
                        DoorOptions d;
                        d.target = {c.address, c.mac};
                        d.card = "00112345";
                        return emit(flag_card(d));
                    }});
}

}  // namespace doorctl
