// A controller of the fleet.
#pragma once

#include <cstdint>
#include <string>

namespace doorlinkd {

struct Controller {
    std::string name;           // 1 to 32 of letters, digits, '-', '_', '.'
    std::string address;        // dotted IPv4
    std::string mac;            // 12 hexadecimal digits, lower case
    int number = 0;             // 0 to 999, unique: names its record and photo files
    bool longRecords = false;   // card lists of long records (ten further cards)
    bool photos = true;         // records with photos (false: transfer retrieval)
    std::string site = "main";  // the site it belongs to, whose time zone its clock keeps
    std::string zone{};         // its site's IANA time zone, as the store reads it (not stored with it)
    // On a network that loses datagrams: its exchanges resend on a wait
    // that adapts to its replies (library/doorlink_library.h).
    bool lossy = false;
};

// The number of a removed controller: given again only when asked for, and
// the journal files left under it are the records of the controller that
// had it.
struct RetiredNumber {
    int number = 0;
    std::string controller;  // the name of the controller that had it
    bool photos = true;      // whether that controller's records came with photos
    int64_t retired = 0;     // when it was removed: ms since the epoch, the database's clock
};

// 1 to 32 letters, digits, '-', '_' or '.': names go into topics, paths and
// lists separated by spaces.
bool is_controller_name(const std::string& name);

}  // namespace doorlinkd
