// What the MQTT bridge can be told (serve's options and TOML file).
#pragma once

#include <string>

namespace doorlinkd {

struct MqttOptions {
    std::string url;  // mqtt://host:port or mqtts://host:port; "" no MQTT
    std::string ca, cert, key;
    std::string user, password;  // from the configuration or DOORLINKD_MQTT_USER / _PASSWORD
    bool commands = false;       // act on doorlink/<controller>/cmd/...
    std::string replyPrefix;     // response topics under it are answered on; "" none
};

}  // namespace doorlinkd
