// Everything `doorlinkd serve` can be told, from its command line or its
// configuration file (TOML, the same names with '_' for '-').
#pragma once

#include <cstddef>
#include <string>

namespace doorlinkd {

struct HttpOptions {
    std::string listen = "127.0.0.1:8080";  // ADDR:PORT; port 0 picks a free one
    std::string tlsCert, tlsKey;            // both or neither: HTTPS
    int threads = 16;                       // workers for requests
    int maxStreams = 32;                    // event streams open at once (each holds a worker)
    size_t bodyLimit = 16 * 1024 * 1024;    // bytes; past it 413
};

struct MqttOptions {
    std::string url;  // mqtt://host:port or mqtts://host:port; "" no MQTT
    std::string ca, cert, key;
    std::string user, password;  // from the configuration or DOORLINKD_MQTT_USER / _PASSWORD
    bool commands = false;       // act on doorlink/<controller>/cmd/...
};

struct ServeOptions {
    std::string instance;  // default: the host name
    std::string dataDir;
    std::string db;
    int parallel = 16;
    int leaseSeconds = 30;
    int syncEvery = 60;     // minutes; 0: no scheduled sync
    int archiveEvery = 5;   // minutes; 0: no scheduled archive
    int monitorEvery = 60;  // seconds between re-arming each controller's monitoring
    int maxSkew = 60;       // seconds a clock may be off before it is set
    int keepDays = 0;       // 0: keep everything
    HttpOptions http;
    MqttOptions mqtt;
};

}  // namespace doorlinkd
