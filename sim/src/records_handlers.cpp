// The controller's stored records: the photo retrieval stream (photo blocks,
// record blocks, trailers acknowledged by echo, resend requests), the
// numbered transfer blocks, and resends of pushed live photos.
#include <algorithm>

#include "handlers.h"

namespace doorsim {
namespace {

using Clock = std::chrono::steady_clock;

// Constant data.
// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization)
const Bytes kEndMarker = {0x46, 0x64, 0x74, 0x84, 0x22};
// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization)
const Bytes kAlternativeResend = {0x47, 0x74, 0x84, 0x94, 0x33};
constexpr uint8_t kTrailerMarker[2] = {0x5A, 0xA5};
constexpr size_t kBlockImage = 1024;
constexpr size_t kShortBlockImage = 512;
constexpr size_t kPhotoBlockLength = 1029;
constexpr size_t kTransferSlots = 64;
// The sequence byte of the last block when the stream ends with the end
// marker: the marker's own last byte (0x22) then follows in order.
constexpr uint8_t kLastSequenceBeforeEndMarker = 0x21;

// Copies of one datagram that a host sends back to back count once. A
// request that opens a retrieval comes six times: after those six the same
// bytes are a new retrieval, even at once. Acknowledgements and resend
// requests come in bursts too, and further copies within a short window
// count once however often they come, so that duplicated blocks do not
// multiply; a stalled simulator still counts a late copy to its burst.
enum class Burst { Counted, CountedAndWindow };

bool repeat_of_burst(RecordsState& s, const Bytes& request, int copies, Burst kind) {
    const auto now = Clock::now();
    const bool inWindow = now - s.lastRequestAt < std::chrono::milliseconds(300);
    if (request == s.lastRequest &&
        (s.burstRepeats < copies - 1 || (kind == Burst::CountedAndWindow && inWindow))) {
        ++s.burstRepeats;
        return true;
    }
    s.lastRequest = request;
    s.lastRequestAt = now;
    s.burstRepeats = 0;
    return false;
}

void put_u16(Bytes& b, size_t at, uint32_t value) {
    b[at] = static_cast<uint8_t>(value / 256 % 256);
    b[at + 1] = static_cast<uint8_t>(value % 256);
}

// Photo blocks of 1024 image bytes, then a record block holding the rest of
// the image (up to its end-of-image marker), the access record and the
// trailer: 533 bytes when the rest fits into 511 bytes, else 1045.
std::vector<Bytes> build_stream(const std::vector<StoredRecord>& records, StreamEnd end) {
    std::vector<Bytes> blocks;
    const uint32_t total = static_cast<uint32_t>(records.size());
    for (uint32_t i = 0; i < total; ++i) {
        const StoredRecord& r = records[i];
        const uint32_t image = i + 1;
        size_t at = 0;
        while (r.photo.size() - at > kBlockImage - 1) {
            Bytes b(kPhotoBlockLength, 0);
            std::copy_n(r.photo.begin() + static_cast<long>(at), kBlockImage, b.begin());
            at += kBlockImage;
            put_u16(b, 1026, image);
            blocks.push_back(std::move(b));
        }
        const size_t rest = r.photo.size() - at;
        Bytes b(rest <= kShortBlockImage - 1 ? 533 : 1045, 0);
        std::copy(r.photo.begin() + static_cast<long>(at), r.photo.end(), b.begin());
        const size_t L = b.size();
        b[L - 21] = r.site;
        put_u16(b, L - 20, r.card);
        b[L - 18] = r.kind;
        b[L - 15] = r.year;
        b[L - 14] = r.month;
        b[L - 13] = r.day;
        b[L - 12] = r.hour;
        b[L - 11] = r.minute;
        b[L - 10] = r.second;
        put_u16(b, L - 7, total);
        put_u16(b, L - 3, image);
        blocks.push_back(std::move(b));
    }
    const size_t count = blocks.size();
    const uint8_t first =
        end == StreamEnd::EndMarker ? static_cast<uint8_t>(kLastSequenceBeforeEndMarker - (count - 1)) : 1;
    for (size_t k = 0; k < count; ++k) {
        Bytes& b = blocks[k];
        const size_t L = b.size();
        b[L - 5] = kTrailerMarker[0];
        b[L - 4] = kTrailerMarker[1];
        b[L - 1] = static_cast<uint8_t>(first + k);
    }
    return blocks;
}

Bytes trailer(const Bytes& block) { return Bytes(block.end() - 5, block.end()); }

// A controller that consumes records frees a retrieval's records up to
// `count` of its snapshot, whose first record is at position `first`; those
// before recordsFreed are gone already.
void free_acknowledged(RecordsState& s, size_t first, size_t count) {
    const size_t upTo = first + count;
    if (!s.consumeRecords || upTo <= s.recordsFreed) return;
    const size_t n = std::min(upTo - s.recordsFreed, s.records.size());
    s.records.erase(s.records.begin(), s.records.begin() + static_cast<long>(n));
    s.recordsFreed = upTo;
}

// What follows the last block: nothing, the end marker, or a 10-byte reply
// that is in order after it.
void send_end(RecordsState& s, Responder& out) {
    switch (s.streamEnd) {
        case StreamEnd::EndMarker: out.reply(kEndMarker); break;
        case StreamEnd::ShortReply: {
            Bytes reply(10, 0);
            reply[0] = 0x4E;
            uint32_t image = 1;
            uint8_t sequence = 1;
            if (!s.stream.empty()) {
                const Bytes& last = s.stream.back();
                image = last[last.size() - 3] * 256u + last[last.size() - 2] + 1;
                sequence = static_cast<uint8_t>(last.back() + 1);
            }
            put_u16(reply, 7, image);
            reply[9] = sequence;
            out.reply(std::move(reply));
            break;
        }
        case StreamEnd::Silence: break;
    }
}

void send_block(RecordsState& s, size_t k, Responder& out) {
    if (k >= s.stream.size()) {
        send_end(s, out);
        return;
    }
    s.streamNext = k + 1;
    if (s.loseOnce.erase(k)) return;
    out.reply(s.stream[k]);
}

// Retrieval request: 0x41 0x14 0x24 0x34 0x77, MAC, 0x00.
bool retrieval_request(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x41, 0x14, 0x24, 0x34, 0x77})) return false;
    if (r.size() != 12 || !mac_at(r, 5, state)) return true;
    RecordsState& s = state.records;
    if (repeat_of_burst(s, r, 6, Burst::Counted)) return true;
    ++s.retrievals;
    s.stream = build_stream(s.records, s.streamEnd);
    s.streamFirst = s.recordsFreed;
    send_block(s, 0, out);
    return true;
}

// Five bytes: the trailer of a block (next block, please), a resend request
// 0xFF 0xFF image sequence (the block after that one), or the alternative
// resend request (the last block again).
bool stream_acknowledgement(const Bytes& r, ControllerState& state, Responder& out) {
    RecordsState& s = state.records;
    if (r.size() != 5 || s.stream.empty()) return false;
    const bool ours = r == kAlternativeResend || (r[0] == 0xFF && r[1] == 0xFF) ||
                      (r[0] == kTrailerMarker[0] && r[1] == kTrailerMarker[1]);
    if (!ours) return false;
    if (repeat_of_burst(s, r, 7, Burst::CountedAndWindow)) return true;
    if (r == kAlternativeResend) {
        ++s.resendRequests;
        send_block(s, s.streamNext == 0 ? 0 : s.streamNext - 1, out);
        return true;
    }
    const bool resend = r[0] == 0xFF && r[1] == 0xFF;
    if (resend) ++s.resendRequests;
    // The block acknowledged or named: search back from the newest. The host
    // holds a record block it echoes or names in a resend request (it asks
    // for what follows), so the records up to its image are acknowledged.
    for (size_t k = s.streamNext; k-- > 0;) {
        const Bytes t = trailer(s.stream[k]);
        const bool named = resend ? (t[2] == r[2] && t[3] == r[3] && t[4] == r[4]) : t == r;
        if (named) {
            if (s.stream[k].size() != kPhotoBlockLength)
                free_acknowledged(s, s.streamFirst, t[2] * 256u + t[3]);
            send_block(s, k + 1, out);
            return true;
        }
    }
    // A resend request for nothing known: from the start.
    if (resend) send_block(s, 0, out);
    return true;
}

// Transfer blocks: 0x40 0x14, 64 slots of 16 bytes from byte 5, the number
// of blocks, this block's number and the records in the last block.
std::vector<Bytes> build_transfer(const std::vector<StoredRecord>& records) {
    const size_t n = records.size();
    const size_t count = (n + kTransferSlots - 1) / kTransferSlots;
    const uint8_t inLast = static_cast<uint8_t>(n - (count - 1) * kTransferSlots);
    std::vector<Bytes> blocks;
    for (size_t b = 0; b < count; ++b) {
        Bytes block(1034, 0);
        block[0] = 0x40;
        block[1] = 0x14;
        for (size_t j = 0; j < kTransferSlots && b * kTransferSlots + j < n; ++j) {
            const StoredRecord& r = records[b * kTransferSlots + j];
            const size_t at = 5 + 16 * j;
            block[at + 0] = r.year;
            block[at + 1] = r.month;
            block[at + 2] = r.day;
            block[at + 3] = r.hour;
            block[at + 4] = r.minute;
            block[at + 5] = r.second;
            block[at + 6] = r.site;
            put_u16(block, at + 7, r.card);
            block[at + 9] = r.kind;
        }
        put_u16(block, 1029, static_cast<uint32_t>(count));
        put_u16(block, 1031, static_cast<uint32_t>(b + 1));
        block[1033] = inLast;
        blocks.push_back(std::move(block));
    }
    return blocks;
}

// Transfer request: 0x40 0x14 0x24 0x34 0x66, MAC, 0x00.
bool transfer_request(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x40, 0x14, 0x24, 0x34, 0x66})) return false;
    if (r.size() != 12 || !mac_at(r, 5, state)) return true;
    RecordsState& s = state.records;
    if (repeat_of_burst(s, r, 6, Burst::Counted)) return true;
    ++s.transfers;
    s.transfer = build_transfer(s.records);
    s.transferFirst = s.recordsFreed;
    s.transferRecords = s.records.size();
    if (s.transfer.empty()) {
        out.reply(kEndMarker);
    } else {
        out.reply(s.transfer[0]);
    }
    return true;
}

// Block request 0xFF 0xFF blocks last-had (6 bytes): the next block. The
// final one (12 bytes, last-had = blocks) ends the transfer.
bool block_request(const Bytes& r, ControllerState& state, Responder& out) {
    RecordsState& s = state.records;
    if ((r.size() != 6 && r.size() != 12) || r[0] != 0xFF || r[1] != 0xFF || s.transfer.empty()) {
        return false;
    }
    if (repeat_of_burst(s, r, 6, Burst::CountedAndWindow)) return true;
    const size_t blocks = r[2] * 256u + r[3];
    const size_t had = r[4] * 256u + r[5];
    if (blocks != s.transfer.size()) return true;
    // A request acknowledges the blocks had, the final one every block.
    free_acknowledged(s, s.transferFirst, std::min(had * kTransferSlots, s.transferRecords));
    if (r.size() == 12) {
        if (had == blocks) ++s.transfersCompleted;
        return true;
    }
    if (had < blocks) out.reply(s.transfer[had]);
    return true;
}

// Photo resend request: 0x73 0x37 0x47 0x57 and bytes 1034-1039 of a block
// of the photo; brings its blocks from the first one the host lacks.
bool live_photo_resend(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x73, 0x37, 0x47, 0x57})) return false;
    RecordsState& s = state.records;
    if (r.size() != 10 || s.livePhoto.empty()) return true;
    if (!std::equal(r.begin() + 4, r.end(), s.livePhoto[0].begin() + 1034)) return true;
    if (repeat_of_burst(s, r, 1, Burst::CountedAndWindow)) return true;
    ++s.photoResends;
    for (size_t k = s.livePhotoMissingFrom; k < s.livePhoto.size(); ++k) out.reply(s.livePhoto[k]);
    s.livePhotoMissingFrom = s.livePhotoResendAll ? 0 : s.livePhoto.size();
    return true;
}

}  // namespace

void add_records_handlers(std::vector<Handler>& table) {
    table.push_back(retrieval_request);
    table.push_back(transfer_request);
    table.push_back(live_photo_resend);
    table.push_back(block_request);
    table.push_back(stream_acknowledgement);
}

}  // namespace doorsim
