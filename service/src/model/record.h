// Access records and photos as the archive stores them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace doorlinkd {

struct Photo {
    std::string sha256;  // 64 lower-case hexadecimal digits of the bytes
    std::vector<uint8_t> bytes;
    bool whole = false;  // starts with SOI (FF D8) and ends with EOI (FF D9)
};

// One record as a retrieval delivered it. Its identity is controller, card,
// time and photo hash: the same record delivered again is stored once.
struct IncomingRecord {
    std::string controller;  // controller name
    std::string card;        // 8 digits
    std::string time;        // yyyymmddhhmmss
    int kind = 1;            // the record line's last field
    std::optional<Photo> photo;
};

struct PhotoInfo {
    std::string sha256;
    int64_t bytes = 0;
    bool whole = false;
};

struct StoredRecord {
    std::string controller;
    std::string card;
    std::string time;
    int kind = 1;
    std::optional<PhotoInfo> photo;
};

struct RecordQuery {
    std::string controller;  // empty: any
    std::string card;        // empty: any
    std::string since;       // yyyymmddhhmmss, empty: any; records at or after it
    std::string until;       // yyyymmddhhmmss, empty: any; records before it
    int offset = 0;          // records skipped (newest first)
    int limit = 0;           // 0: no limit
};

// What one import stored: records new to the store, and photos new to it
// (a photo attached to a record stored before without one counts too).
struct ImportCounts {
    int records = 0;
    int photos = 0;
};

}  // namespace doorlinkd
