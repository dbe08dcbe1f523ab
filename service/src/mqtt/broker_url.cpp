#include "mqtt/broker_url.h"

#include <cctype>

#include "model/errors.h"

namespace doorlinkd {
namespace {

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

int port_of(const std::string& digits, const std::string& url) {
    if (digits.empty() || digits.size() > 5) throw Refused("the MQTT URL " + url + " has a bad port");
    int port = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            throw Refused("the MQTT URL " + url + " has a bad port");
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) throw Refused("the MQTT URL " + url + " has a bad port");
    return port;
}

}  // namespace

BrokerUrl parse_broker_url(const std::string& url) {
    BrokerUrl broker;
    std::string rest;
    if (starts_with(url, "mqtt://")) {
        rest = url.substr(7);
        broker.port = 1883;
    } else if (starts_with(url, "mqtts://")) {
        rest = url.substr(8);
        broker.tls = true;
        broker.port = 8883;
    } else {
        throw Refused("the MQTT URL " + url + " is neither mqtt://HOST[:PORT] nor mqtts://HOST[:PORT]");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (starts_with(rest, "[")) {
        const size_t close = rest.find(']');
        if (close == std::string::npos) throw Refused("the MQTT URL " + url + " has a bad host");
        broker.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') throw Refused("the MQTT URL " + url + " has a bad host");
            broker.port = port_of(after.substr(1), url);
        }
    } else {
        const size_t colon = rest.find(':');
        broker.host = rest.substr(0, colon);
        if (colon != std::string::npos) broker.port = port_of(rest.substr(colon + 1), url);
    }
    for (char c : broker.host) {
        const bool allowed =
            std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':';
        if (!allowed) throw Refused("the MQTT URL " + url + " has a bad host");
    }
    if (broker.host.empty()) throw Refused("the MQTT URL " + url + " names no host");
    return broker;
}

}  // namespace doorlinkd
