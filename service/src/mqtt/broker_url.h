// The broker a bridge connects to, from its URL: mqtt://HOST[:PORT] (plain,
// port 1883 by default) or mqtts://HOST[:PORT] (TLS, port 8883); an IPv6
// host in brackets.
#pragma once

#include <string>

namespace doorlinkd {

struct BrokerUrl {
    bool tls = false;
    std::string host;
    int port = 0;
};

// Refused for any other form.
BrokerUrl parse_broker_url(const std::string& url);

}  // namespace doorlinkd
