// doorctl discover | net set | mac set|show | serial | ping
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "cli.h"
#include "doorlink/doorlink.h"
#include "ini_peek.h"

namespace doorctl {
namespace {

constexpr int kMaxParallelDiscoveries = 250;

// The registry's path; its directory is made when missing, so that the
// library can write the file.
std::string registry_path() { return prepared_module_directory() + "/eqminfo.ini"; }

// A registry value as a number when it is one.
Json registry_value(const std::string& text) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0') return number;
    return text;
}

// The registry's entries, printed as a table.
Result registry_result() {
    const IniValues ini = read_ini(registry_path());
    const long total = std::strtol(value_of(ini, "EqmTotal", "EqmTotal").c_str(), nullptr, 10);
    Json entries = Json::array();
    for (long i = 1; i <= total; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back({{"entry", i},
                           {"address", value_of(ini, "EqmIP", "EqmIP" + n)},
                           {"device", registry_value(value_of(ini, "EqmNO", "EqmNo" + n))},
                           {"mask", value_of(ini, "EqmNet", "EqmNet" + n)},
                           {"gateway", value_of(ini, "EqmGate", "EqmGate" + n)},
                           {"time", registry_value(value_of(ini, "EqmTime", "EqmTime" + n))},
                           {"image", registry_value(value_of(ini, "EqmImg", "EqmImg" + n))}});
    }
    return Result()
        .set("registry", registry_path())
        .set("count", total)
        .set("controllers", entries)
        .line("entry address          device  mask             gateway          time  image")
        .each("controllers",
              "{entry:%-6d}{address:%-17s}{device:%-8s}{mask:%-17s}{gateway:%-17s}{time:%-6s}{image}")
        .line(total == 1 ? "{count} controller in {registry}" : "{count} controllers in {registry}");
}

// The address n steps after base.
std::string address_after(const std::string& base, int n) {
    in_addr a{};
    if (inet_pton(AF_INET, base.c_str(), &a) != 1) return {};
    a.s_addr = htonl(ntohl(a.s_addr) + static_cast<uint32_t>(n));
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

struct DiscoverOptions {
    bool broadcast = false;
    std::string address;
    int count = 1;
};

// Every address is asked on a thread of its own: a discovery lasts until six
// receives have failed (about 12 seconds), however soon its controller answered.
Result discover(const DiscoverOptions& o) {
    registry_path();
    if (o.broadcast) {
        note("broadcasting the discovery request on UDP port 9000...\n");
        if (FindEqm("", 1) == -1) {
            return Result::failure(kNotConfirmed,
                                   "discovery failed: no socket, or the broadcast could not be sent")
                .set("export", "FindEqm");
        }
    } else {
        if (o.address.empty() || address_after(o.address, 0).empty()) {
            return Result::failure(kUsageError, "give --broadcast or a controller ADDRESS (dotted IPv4)");
        }
        note("asking " + std::to_string(o.count) + " address" + (o.count == 1 ? "" : "es") + " from " +
             o.address + " (about 12 seconds)...\n");
        std::vector<std::thread> threads;
        threads.reserve(static_cast<size_t>(o.count));
        std::vector<int32_t> results(static_cast<size_t>(o.count), 0);
        for (int i = 0; i < o.count; ++i) {
            threads.emplace_back([&, i] {
                results[static_cast<size_t>(i)] = FindEqm(address_after(o.address, i).c_str(), 0);
            });
        }
        for (auto& t : threads) t.join();
        if (std::count(results.begin(), results.end(), -1) == o.count) {
            return Result::failure(kNotConfirmed,
                                   "discovery failed: no socket, or the requests could not be sent")
                .set("export", "FindEqm")
                .set("address", o.address);
        }
    }
    return registry_result();
}

bool parse_dotted(const std::string& text, uint8_t* out) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    const uint32_t value = ntohl(a.s_addr);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return true;
}

struct NetSettings {
    Target target;
    std::string newAddress, mask = "255.255.255.0", gateway = "0.0.0.0";
    int device = 1, time = 0, image = 1;
};

Result set_network(const NetSettings& n) {
    uint8_t record[15] = {};
    const std::string newAddress = n.newAddress.empty() ? n.target.address : n.newAddress;
    if (!parse_dotted(newAddress, record) || !parse_dotted(n.mask, record + 7) ||
        !parse_dotted(n.gateway, record + 11)) {
        return Result::failure(kUsageError, "addresses, mask and gateway are dotted IPv4");
    }
    record[4] = static_cast<uint8_t>(n.time);
    record[5] = static_cast<uint8_t>(n.image);
    record[6] = static_cast<uint8_t>(n.device);
    registry_path();
    if (modifyEqm(record, n.target.address.c_str(), n.target.mac.c_str()) != 1) {
        return not_confirmed("modifyEqm", n.target,
                             "the controller at " + n.target.address + " did not acknowledge the settings");
    }
    return Result()
        .set("address", n.target.address)
        .set("new_address", newAddress)
        .set("device", n.device)
        .set("mask", n.mask)
        .set("gateway", n.gateway)
        .set("time", n.time)
        .set("image", n.image)
        .line(
            "controller {address} now at {new_address}, device {device}, mask {mask}, gateway {gateway}, "
            "time value {time}, image mode {image} (registry updated)");
}

Result set_mac(const std::string& address, const std::string& newMac) {
    uint8_t bytes[6];
    for (int i = 0; i < 6; ++i)
        bytes[i] = static_cast<uint8_t>(std::stoi(newMac.substr(2 * static_cast<size_t>(i), 2), nullptr, 16));
    char reported[13] = {};
    if (SetMacAddr(address.c_str(), bytes, reported) != 1) {
        return not_confirmed("SetMacAddr", {address, ""},
                             "the controller at " + address + " did not acknowledge the new MAC")
            .set("new_mac", newMac);
    }
    return Result()
        .set("address", address)
        .set("mac", reported)
        .line("controller {address} now reports MAC {mac}");
}

Result show_mac(const Target& t) {
    char mac[13] = {};
    std::string asked = t.mac;
    if (MacInfo(t.address.c_str(), 3, mac, asked.data()) != 1) {
        return not_confirmed("MacInfo", t, "no answer from the controller at " + t.address);
    }
    char serial[13] = {};
    TransMacToSerialNo(mac, serial);
    return Result()
        .set("address", t.address)
        .set("mac", mac)
        .set("serial", serial)
        .line("MAC {mac}, serial number {serial}");
}

Result show_serial(const std::string& mac) {
    char serial[13] = {};
    if (TransMacToSerialNo(mac.c_str(), serial) != 1) {
        return Result::failure(kUsageError, "a MAC is 12 hexadecimal digits without separators")
            .set("mac", mac);
    }
    return Result().set("mac", mac).set("serial", serial).line("{serial}");
}

Result ping(const std::string& address) {
    const uint32_t ok = Ping(address.c_str());
    const IniValues status = read_ini("ping.ini");
    Json attempts = Json::array();
    for (int i = 1; i <= 4; ++i) {
        const std::string line = value_of(status, "PingStatue", "PingStatue" + std::to_string(i));
        if (!line.empty()) attempts.push_back({{"attempt", i}, {"status", line}});
        // The attempt that got a datagram is this call's last one.
        if (line != "Time out") break;
    }
    Result r = ok == 1
                   ? Result().set("address", address)
                   : not_confirmed("Ping", {address, ""},
                                   "no echo reply from " + address + " (raw ICMP sockets need privileges)");
    return r.set("attempts", attempts).each("attempts", "attempt {attempt}: {status}");
}

const CLI::Validator& mac_check() {
    static const CLI::Validator check(
        [](const std::string& text) -> std::string {
            bool ok =
                text.size() == 12 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            return ok ? std::string() : "a MAC is 12 hexadecimal digits without separators";
        },
        "MAC");
    return check;
}

}  // namespace

void add_device_commands(CLI::App& app, std::vector<DemoStep>& demo) {
    auto options = std::make_shared<DiscoverOptions>();
    auto* find = app.add_subcommand(
        "discover", "find controllers and record them in the registry (eqminfo.ini), then print it");
    auto* broadcast =
        find->add_flag("--broadcast", options->broadcast, "broadcast the request on the local network");
    find->add_option("ADDRESS", options->address, "ask the controller at this address")->excludes(broadcast);
    find->add_option("--count", options->count, "ask COUNT consecutive addresses from ADDRESS, all at once")
        ->check(CLI::Range(1, kMaxParallelDiscoveries))
        ->excludes(broadcast);
    find->callback([options] { emit(discover(*options)); });

    auto* registry = app.add_subcommand("registry", "print the registry of known controllers");
    registry->callback([] { emit(registry_result()); });

    auto net = std::make_shared<NetSettings>();
    auto* netCommand = app.add_subcommand("net", "a controller's network settings");
    netCommand->require_subcommand(1);
    auto* set = netCommand->add_subcommand("set", "give the controller new network settings");
    add_target(set, net->target);
    set->add_option("--address", net->newAddress, "new address (default: unchanged)");
    set->add_option("--mask", net->mask, "subnet mask")->capture_default_str();
    set->add_option("--gateway", net->gateway, "gateway address")->capture_default_str();
    set->add_option("--device", net->device, "device number, 1..254")
        ->capture_default_str()
        ->check(CLI::Range(1, 254));
    set->add_option("--time", net->time, "time value, 0..60 or 99")
        ->capture_default_str()
        ->check(CLI::Range(0, 60) | CLI::IsMember({99}));
    set->add_option("--image", net->image, "image mode, 1..3 (other values are sent as given)")
        ->capture_default_str()
        ->check(CLI::Range(0, 255));
    set->callback([net] { emit(set_network(*net)); });

    auto macTarget = std::make_shared<Target>();
    auto newMac = std::make_shared<std::string>();
    auto* mac = app.add_subcommand("mac", "a controller's MAC address");
    mac->require_subcommand(1);
    auto* macSet = mac->add_subcommand("set", "give the controller at ADDRESS a new MAC");
    macSet->add_option("ADDRESS", macTarget->address, "controller address")->required();
    macSet->add_option("NEWMAC", *newMac, "the new MAC, 12 hexadecimal digits")
        ->required()
        ->check(mac_check());
    macSet->callback([macTarget, newMac] { emit(set_mac(macTarget->address, *newMac)); });
    auto* macShow = mac->add_subcommand("show", "ask the controller for its MAC");
    add_target(macShow, *macTarget);
    macShow->callback([macTarget] { emit(show_mac(*macTarget)); });

    auto serialMac = std::make_shared<std::string>();
    auto* serial = app.add_subcommand("serial", "print the serial number of a MAC");
    serial->add_option("MAC", *serialMac, "12 hexadecimal digits")->required();
    serial->callback([serialMac] { emit(show_serial(*serialMac)); });

    auto pingAddress = std::make_shared<std::string>();
    auto* pingCommand = app.add_subcommand("ping", "send ICMP echo requests (status lines go to ./ping.ini)");
    pingCommand->add_option("ADDRESS", *pingAddress, "dotted IPv4")->required();
    pingCommand->callback([pingAddress] { emit(ping(*pingAddress)); });

    // The demo finds its controller before anything else is done with it.
    std::vector<DemoStep> first = {
        {"discover the controller into the registry (about 12 seconds)",
         [](DemoContext& c) {
             Result found = discover({false, c.address, 1});
             return emit(found) && found.fields().value("count", 0L) > 0;
         }},
        {"give it device number 7, time value 30 and image mode 2 at the same address",
         [](DemoContext& c) {
             NetSettings n;
             n.target = {c.address, c.mac};
             n.device = 7;
             n.time = 30;
             n.image = 2;
             if (!emit(set_network(n))) return false;
             const Result entries = registry_result();
             return emit(entries) && entries.fields().value("count", 0L) >= 1;
         }},
        {"ask the controller for its MAC",
         [](DemoContext& c) {
             return emit(show_mac({c.address, c.mac}));
         }},
    };
    demo.insert(demo.begin(), first.begin(), first.end());
}

}  // namespace doorctl
