// The records archived from the controllers and their photos, and
// retention, which removes what is old.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/pages.h"
#include "model/record.h"

namespace doorlinkd {

class Database;

class RecordStore {
public:
    virtual ~RecordStore() = default;

    // Stores the records of one retrieval, each once (see IncomingRecord):
    // a record already stored is skipped, and a photo is stored once by its
    // hash. A record stored without a photo takes the photo when it comes
    // again with one, and a record that comes again without its photo is
    // the one stored with it. Counts the records new to the store and the
    // photos new to it (by hash: a photo already stored for another record
    // is not counted again, also when it joins a record stored without one).
    // A record's time must have 14 characters (yyyymmddhhmmss). Each new
    // record is stamped with the instant its time stands for in the zone
    // of its controller's site (see RecordStamp; the site main's zone for a
    // controller that is gone).
    // Every record new to the store becomes a "record" event (and its
    // outbox message) in the same transaction, so each is told once, and
    // is marked archived now by the database's clock (retention goes by
    // that).
    virtual ImportCounts import_records(const std::vector<IncomingRecord>& records) = 0;
    // Newest first by instant (the later stored first at the same instant).
    virtual std::vector<StoredRecord> records(const RecordQuery& query) = 0;
    // How many records the query matches, its offset and limit aside.
    virtual int64_t count_records(const RecordQuery& query) = 0;
    // The instant of each card's newest record, by card; a card without a
    // stored record is absent.
    virtual std::map<std::string, int64_t> last_record_instants(const std::vector<std::string>& cards) = 0;
    virtual std::optional<Photo> photo(const std::string& sha256) = 0;
    // Stores a photo that no record names (yet): a pushed one. A photo
    // already stored is left as it is.
    virtual void put_photo(const Photo& photo) = 0;

    // Retention: removes records archived before beforeMs (ms since the
    // epoch, the database's clock; never by a record's own time, which is
    // the controller's clock), events, audit entries and published outbox
    // messages older than that, and the photos nothing names any more.
    virtual Removed remove_older_than(int64_t beforeMs) = 0;
};

class SqlRecords : public virtual RecordStore {
public:
    explicit SqlRecords(Database& database) : db_(database) {}

    ImportCounts import_records(const std::vector<IncomingRecord>& records) override;
    std::vector<StoredRecord> records(const RecordQuery& query) override;
    int64_t count_records(const RecordQuery& query) override;
    std::map<std::string, int64_t> last_record_instants(const std::vector<std::string>& cards) override;
    std::optional<Photo> photo(const std::string& sha256) override;
    void put_photo(const Photo& photo) override;
    Removed remove_older_than(int64_t beforeMs) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
