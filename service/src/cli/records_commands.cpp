#include "cli/commands.h"
#include "common/atomic_file.h"
#include "fleet/card_holders.h"
#include "store/record_event.h"

namespace doorlinkd {

Outcome records_command(Store& store, const RecordQuery& query) {
    Outcome outcome;
    const std::vector<StoredRecord> records = store.records(query);
    for (const StoredRecord& record : records) {
        // The controller's local time in its zone, then the instant.
        outcome.lines.push_back(
            readable_time(record.time) + " " + record.stamp.zone + "  " + iso_instant(record.stamp.instant) +
            (record.stamp.localKind == "exact" ? "" : " (" + record.stamp.localKind + ")") + "  " +
            record.card + "  " + record.controller + (record.person ? "  person " + *record.person : "") +
            (record.personErased ? "  (an erased person's)" : "") +
            (record.photo ? "  photo " + record.photo->sha256 : ""));
    }
    outcome.json["records"] = records_json(store, records);
    return outcome;
}

Outcome photo_get(Store& store, const std::string& sha256, const std::string& file, mode_t mode) {
    const std::optional<Photo> photo = store.photo(sha256);
    if (!photo) throw Refused("no photo " + sha256);
    write_file_atomically(file, photo->bytes.data(), photo->bytes.size(), mode);
    Outcome outcome;
    outcome.json =
        Json{{"sha256", sha256}, {"bytes", photo->bytes.size()}, {"whole", photo->whole}, {"file", file}};
    outcome.lines.push_back("photo " + sha256 + " (" + std::to_string(photo->bytes.size()) +
                            " bytes) written to " + file);
    return outcome;
}

}  // namespace doorlinkd
