// doorctl time set|show ADDRESS MAC
#include <memory>

#include "cli.h"
#include "doorlink/doorlink.h"

namespace doorctl {
namespace {

Result set_time(const Target& t) {
    if (DoorSetTime(t.address.c_str(), t.mac.c_str()) != 1) {
        return not_confirmed("DoorSetTime", t,
                             "the controller at " + t.address + " did not acknowledge the clock");
    }
    return Result().set("address", t.address).line("clock of {address} set to this host's local time");
}

Result show_time(const Target& t) {
    char text[18] = {};
    uint32_t weekDay = 0;
    if (DoorShowTime(t.address.c_str(), text, &weekDay, t.mac.c_str()) != 1) {
        return not_confirmed("DoorShowTime", t, "no clock reading from the controller at " + t.address);
    }
    return Result()
        .set("address", t.address)
        .set("clock", text)
        .set("day_of_week", weekDay)
        .line("{clock} (day of week {day_of_week})");
}

}  // namespace

void add_time_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto* time = app.add_subcommand("time", "the controller's clock");
    time->require_subcommand(1);
    auto target = std::make_shared<Target>();

    auto* set = time->add_subcommand("set", "set the clock to this host's local time");
    add_target(set, *target);
    set->callback([target] { emit(set_time(*target)); });

    auto* show = time->add_subcommand("show", "print the clock as yy-mm-dd hh:mm:ss");
    add_target(show, *target);
    show->callback([target] { emit(show_time(*target)); });

    demo.push_back({"set the controller's clock to this host's time", [](DemoContext& c) {
                        return emit(set_time({c.address, c.mac}));
                    }});
    demo.push_back({"read the clock back", [](DemoContext& c) {
                        return emit(show_time({c.address, c.mac}));
                    }});
}

}  // namespace doorctl
