// A controller of the fleet.
#pragma once

#include <string>

namespace doorlinkd {

struct Controller {
    std::string name;          // 1 to 32 of letters, digits, '-', '_', '.'
    std::string address;       // dotted IPv4
    std::string mac;           // 12 hexadecimal digits, lower case
    int number = 0;            // 0 to 999, unique: names its record and photo files
    bool longRecords = false;  // card lists of long records (ten further cards)
    bool photos = true;        // records with photos (false: transfer retrieval)
};

// 1 to 32 letters, digits, '-', '_' or '.': names go into topics, paths and
// lists separated by spaces.
bool is_controller_name(const std::string& name);

}  // namespace doorlinkd
