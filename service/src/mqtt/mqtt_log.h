// The bridge's lines on standard error, one write each so that lines of
// several threads do not mix.
#pragma once

#include <iostream>
#include <string>

namespace doorlinkd {

inline void mqtt_log(const std::string& text) {
    std::cerr << ("doorlinkd: mqtt: " + text + "\n") << std::flush;
}

}  // namespace doorlinkd
