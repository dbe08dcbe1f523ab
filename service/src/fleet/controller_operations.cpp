#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "fleet/json_forms.h"
#include "fleet/operations.h"

namespace doorlinkd {
namespace {

constexpr int kMaxNumber = 999;

void check_name(const std::string& name) {
    if (!is_controller_name(name)) {
        throw Refused("controller name \"" + name + "\": 1 to 32 letters, digits, '-', '_' or '.'");
    }
}

std::string checked_mac(std::string mac) {
    const bool hex = std::all_of(mac.begin(), mac.end(), [](unsigned char c) { return std::isxdigit(c); });
    if (mac.size() != 12 || !hex) throw Refused("MAC \"" + mac + "\": 12 hexadecimal digits, no separators");
    std::transform(mac.begin(), mac.end(), mac.begin(), [](unsigned char c) { return std::tolower(c); });
    return mac;
}

// The lowest number from 1 (then 0) that no controller has and none had:
// a retired number is given again only when asked for.
int free_number(Store& store) {
    std::set<int> taken;
    for (const Controller& c : store.controllers()) taken.insert(c.number);
    for (const RetiredNumber& r : store.retired_numbers()) taken.insert(r.number);
    for (int n = 1; n <= kMaxNumber; ++n) {
        if (!taken.count(n)) return n;
    }
    if (!taken.count(0)) return 0;
    throw Refused(
        "every controller number from 0 to 999 is taken or retired (--number N --reuse-number takes a "
        "retired one)");
}

// The site named, or else the only one.
std::string site_for(Store& store, const std::optional<std::string>& named) {
    if (named) return *named;
    const std::vector<Site> sites = store.sites();
    if (sites.size() == 1) return sites.front().name;
    std::vector<std::string> names;
    names.reserve(sites.size());
    for (const Site& site : sites) names.push_back(site.name);
    throw Refused("which site? give one of: " + join_words(names));
}

}  // namespace

Outcome controller_add(Store& store, const ControllerAddArgs& args) {
    check_name(args.name);
    in_addr address{};
    if (inet_pton(AF_INET, args.address.c_str(), &address) != 1) {
        throw Refused("address \"" + args.address + "\": a dotted IPv4 address");
    }
    Controller c;
    c.name = args.name;
    c.address = args.address;
    c.mac = checked_mac(args.mac);
    if (args.number && (*args.number < 0 || *args.number > kMaxNumber)) {
        throw Refused("controller number " + std::to_string(*args.number) + ": 0 to 999");
    }
    if (args.reuseNumber && !args.number) throw Refused("reusing a number needs the number");
    c.number = args.number ? *args.number : free_number(store);
    c.longRecords = args.longRecords;
    c.photos = !args.noPhotos;
    c.lossy = args.lossy;
    c.site = site_for(store, args.site);
    store.add_controller(c, args.reuseNumber);
    Outcome outcome;
    outcome.json = to_json(c);
    outcome.lines.push_back("added controller " + c.name + " (number " + std::to_string(c.number) +
                            ") at site " + c.site);
    return outcome;
}

Outcome controller_list(Store& store) {
    Outcome outcome;
    Json list = Json::array();
    const ServedSites served = store.served_sites();
    for (const Controller& c : store.controllers()) {
        list.push_back(to_json(c, served));
        outcome.lines.push_back(c.name + "  site " + c.site + "  " + c.address + "  " + c.mac + "  number " +
                                std::to_string(c.number) + (c.longRecords ? "  long" : "") +
                                (c.photos ? "" : "  no photos") + (c.lossy ? "  lossy" : "") +
                                (served.serves(c.site) ? "" : "  unserved (no instance serves its site)"));
    }
    outcome.json["controllers"] = list;
    return outcome;
}

Outcome controller_remove(Store& store, const std::string& name) {
    const std::vector<std::string> blocking = store.remove_controller(name);
    if (!blocking.empty()) {
        std::string cards;
        for (const std::string& card : blocking) cards += " " + card;
        Outcome outcome = failure(kRefused, "controller " + name + " is the only controller of " +
                                                std::to_string(blocking.size()) + " cards:" + cards);
        outcome.json["cards"] = blocking;
        return outcome;
    }
    Outcome outcome;
    outcome.json["removed"] = name;
    outcome.lines.push_back("removed controller " + name);
    return outcome;
}

Outcome controller_set(Store& store, const std::string& name, const ControllerChange& change) {
    if (!change.site && !change.lossy) throw Refused("nothing to change: give a site or lossy");
    if (change.site) store.move_controller(name, *change.site);
    if (change.lossy) store.set_lossy(name, *change.lossy);
    const std::optional<Controller> changed = store.controller(name);
    if (!changed) throw NotFound("no controller named " + name);  // removed meanwhile
    Outcome outcome;
    outcome.json = to_json(*changed);
    if (change.site) outcome.lines.push_back("controller " + name + " is at site " + *change.site);
    if (change.lossy)
        outcome.lines.push_back("controller " + name + (*change.lossy ? " is" : " is not") + " lossy");
    return outcome;
}

std::string change_detail(const ControllerChange& change) {
    std::string detail = change.site ? "site " + *change.site : "";
    if (change.lossy)
        detail += (detail.empty() ? "" : ", ") + std::string(*change.lossy ? "lossy" : "not lossy");
    return detail;
}

std::vector<Controller> chosen_controllers(Store& store, const std::vector<std::string>& names) {
    std::vector<Controller> all = store.controllers();
    if (names.empty()) return all;
    std::vector<Controller> chosen;
    for (const std::string& name : names) {
        auto it = std::find_if(all.begin(), all.end(), [&](const Controller& c) { return c.name == name; });
        if (it == all.end()) throw NotFound("no controller named " + name);
        if (std::none_of(chosen.begin(), chosen.end(), [&](const Controller& c) { return c.name == name; })) {
            chosen.push_back(*it);
        }
    }
    return chosen;
}

}  // namespace doorlinkd
