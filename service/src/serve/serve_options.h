// Everything `doorlinkd serve` can be told, from its command line or its
// configuration file (TOML, the same names with '_' for '-').
#pragma once

#include <string>
#include <vector>

#include "http/http_options.h"
#include "mqtt/mqtt_options.h"

namespace doorlinkd {

struct ServeOptions {
    std::string instance;  // default: the host name
    std::string dataDir;
    std::string db;
    int parallel = 16;
    int leaseSeconds = 30;
    int syncEvery = 60;     // minutes; 0: no scheduled sync, none at midnight either
    int archiveEvery = 5;   // minutes; 0: no scheduled archive
    int monitorEvery = 60;  // seconds between re-arming each controller's monitoring
    int maxSkew = 60;       // seconds a clock may be off before it is set
    int keepDays = 0;       // 0: keep everything
    bool lossyAll = false;  // every controller taken as lossy (Controller::lossy)
    // The IANA zone `init` gives the site main ("": the host's). The
    // controllers' clocks keep their sites' zones: serve only tells when
    // this is not the site main's.
    std::string timeZone;
    // The sites whose controllers this instance drives (none: every site).
    std::vector<std::string> sites;
    HttpOptions http;
    MqttOptions mqtt;
};

}  // namespace doorlinkd
