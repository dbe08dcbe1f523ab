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

// When and where a record was taken: the instant its controller's local
// time stands for in the zone of the controller's site, as the store worked
// it out when it archived the record.
struct RecordStamp {
    int64_t instant = 0;  // ms since the epoch, UTC
    // How the local time maps to the instant: "exact"; "ambiguous" (the
    // repeated hour: the earlier); "nonexistent" (the gap when the clocks
    // go forward: where the gap ends); "invalid" (no date and time at all:
    // the instant it was archived, by the database's clock).
    std::string localKind = "exact";
    std::string site;  // the controller's site; "" when the controller was gone
    std::string zone;  // that site's zone; the site main's when the controller was gone
};

struct StoredRecord {
    std::string controller;
    std::string card;
    std::string time;  // the controller's own local time, yyyymmddhhmmss
    int kind = 1;
    std::optional<PhotoInfo> photo;
    RecordStamp stamp;
    // The id of the person who held the card when the record was archived;
    // none for a card of no one's, or of a person erased since (personErased).
    std::optional<std::string> person;
    bool personErased = false;
};

// A bound of a record query: an instant, or (for callers of the older
// form) a local time text compared with each record's own time.
struct RecordBound {
    std::optional<int64_t> instant;  // ms since the epoch, UTC
    std::string local;               // yyyymmddhhmmss; empty: none
};

struct RecordQuery {
    std::string controller;  // empty: any
    std::string card;        // empty: any
    RecordBound since;       // records at or after it
    RecordBound until;       // records before it
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
