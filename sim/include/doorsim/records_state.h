// The access records a simulated controller keeps (each with the JPEG photo
// taken with it), the retrieval streams it serves, and what it pushes to its
// monitoring target: error reports and live photos.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace doorsim {

using Bytes = std::vector<uint8_t>;
class Simulator;

struct StoredRecord {
    uint8_t site = 0;
    uint16_t card = 0;
    // Year within the century, then month .. second, as the controller keeps them.
    uint8_t year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    uint8_t kind = 1;
    Bytes photo;  // a JPEG file, byte for byte
};

// How a controller ends a photo retrieval after its last block.
enum class StreamEnd { EndMarker, ShortReply, Silence };

struct RecordsState {
    std::vector<StoredRecord> records;
    StreamEnd streamEnd = StreamEnd::EndMarker;
    // Blocks of the photo stream (by position, from 0) lost the first time
    // they are due.
    std::set<size_t> loseOnce;

    // Whether the controller frees the records the host has acknowledged,
    // from the front of `records`, as real controllers do. Each retrieval
    // sends a snapshot taken at its request; its records lie at positions
    // first.. of every record ever kept, counted with the ones freed, so that
    // freeing never shifts what is being sent, a repeated acknowledgement
    // frees nothing twice, and records added meanwhile stay.
    bool consumeRecords = false;
    size_t recordsFreed = 0;  // from the front of `records`, ever

    // The photo retrieval under way.
    std::vector<Bytes> stream;
    size_t streamNext = 0;
    size_t streamFirst = 0;  // position of its first record
    // The transfer under way: its blocks, from block 1.
    std::vector<Bytes> transfer;
    size_t transferFirst = 0;  // position of its first record
    size_t transferRecords = 0;

    // The live photo last pushed, and the first block the host may lack;
    // when the way to the host may lose or reorder blocks, every resend
    // request brings the whole photo again.
    std::vector<Bytes> livePhoto;
    size_t livePhotoMissingFrom = 0;
    bool livePhotoResendAll = false;
    uint32_t livePhotos = 0;

    // Counters for tests.
    int retrievals = 0;
    int resendRequests = 0;
    int transfers = 0;
    int transfersCompleted = 0;
    int photoResends = 0;

    // The burst filter: copies of one request sent back to back count once.
    Bytes lastRequest;
    std::chrono::steady_clock::time_point lastRequestAt{};
    int burstRepeats = 0;
};

// A small JPEG photo showing the two lines of text (digits, '-', ':', ' ').
// Its size is never a multiple of 1024, so its end always falls in the
// record block that closes it.
Bytes make_photo(const std::string& top, const std::string& bottom, int width = 160, int height = 120,
                 int quality = 85);

// Decodes a JPEG file completely; true, with its size, when it is a whole
// image without warnings (such as missing data).
bool decode_photo(const Bytes& jpeg, int& width, int& height);

// A record of card site/card at the local time `when`, with a photo showing
// the card text and the time (photoWidth 0: no photo).
StoredRecord make_record(uint8_t site, uint16_t card, std::time_t when, uint8_t kind = 1,
                         int photoWidth = 160, int photoHeight = 120);

// count records of consecutive cards one minute apart, ending at `until` (0: now).
std::vector<StoredRecord> sample_records(int count, int photoWidth = 160, int photoHeight = 120,
                                         std::time_t until = 0);

// The i-th (from 0) of those sample records, taken at `when`. Records taken
// later follow on with the next i: the cards differ from record to record,
// so records taken within one second stay distinct.
StoredRecord sample_record(uint64_t i, std::time_t when, int photoWidth = 160, int photoHeight = 120);

// "%03d%05d" of site and card.
std::string card_text(uint8_t site, uint16_t card);

// The blocks of a live photo (1052 bytes each, the image zero-padded to
// whole blocks).
std::vector<Bytes> live_photo_blocks(const StoredRecord& record, uint32_t photoId);

// Pushes a live photo to the controller's monitoring target. order lists the
// block numbers in the order they go out: a missing number is lost, a
// repeated one duplicated; empty sends them in order. A resend request from
// the host brings the blocks from the first one it lacks. False without a
// monitoring target.
bool push_live_photo(Simulator& sim, int id, const StoredRecord& record,
                     const std::vector<size_t>& order = {});

// Pushes an error report (the text, without a terminating zero).
bool push_error_report(Simulator& sim, int id, const std::string& text);

}  // namespace doorsim
