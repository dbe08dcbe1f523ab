// Stored records made from the host's clock, and what a controller pushes to
// its monitoring target: error reports and live photos.
#include <algorithm>
#include <cstdio>

#include "doorsim/simulator.h"

namespace doorsim {
namespace {

std::string time_text(const StoredRecord& r, int century) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", century + r.year, r.month, r.day,
                  r.hour, r.minute, r.second);
    return text;
}

int century_of(std::time_t when) {
    tm local{};
    localtime_r(&when, &local);
    return (local.tm_year + 1900) / 100 * 100;
}

}  // namespace

std::string card_text(uint8_t site, uint16_t card) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d%05d", site, card);
    return text;
}

StoredRecord make_record(uint8_t site, uint16_t card, std::time_t when, uint8_t kind, int photoWidth,
                         int photoHeight) {
    tm local{};
    localtime_r(&when, &local);
    StoredRecord r;
    r.site = site;
    r.card = card;
    r.year = static_cast<uint8_t>(local.tm_year % 100);
    r.month = static_cast<uint8_t>(local.tm_mon + 1);
    r.day = static_cast<uint8_t>(local.tm_mday);
    r.hour = static_cast<uint8_t>(local.tm_hour);
    r.minute = static_cast<uint8_t>(local.tm_min);
    r.second = static_cast<uint8_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
    r.kind = kind;
    if (photoWidth > 0) {
        r.photo = make_photo(card_text(site, card), time_text(r, century_of(when)), photoWidth, photoHeight);
    }
    return r;
}

StoredRecord sample_record(uint64_t i, std::time_t when, int photoWidth, int photoHeight) {
    return make_record(static_cast<uint8_t>(1 + i % 3), static_cast<uint16_t>((1000 + i) % 65536), when,
                       static_cast<uint8_t>(1 + i % 2), photoWidth, photoHeight);
}

std::vector<StoredRecord> sample_records(int count, int photoWidth, int photoHeight, std::time_t until) {
    std::vector<StoredRecord> out;
    const std::time_t now = until != 0 ? until : std::time(nullptr);
    for (int i = 0; i < count; ++i) {
        const std::time_t when = now - static_cast<std::time_t>(count - i) * 60;
        out.push_back(sample_record(static_cast<uint64_t>(i), when, photoWidth, photoHeight));
    }
    return out;
}

std::vector<Bytes> live_photo_blocks(const StoredRecord& r, uint32_t photoId) {
    const size_t count = std::max<size_t>(1, (r.photo.size() + 1023) / 1024);
    std::vector<Bytes> blocks;
    for (size_t k = 0; k < count; ++k) {
        Bytes b(1052, 0);
        b[0] = 0x73;
        b[1] = 0x37;
        const size_t from = k * 1024;
        const size_t n = from < r.photo.size() ? std::min<size_t>(1024, r.photo.size() - from) : 0;
        std::copy_n(r.photo.begin() + static_cast<long>(from), n, b.begin() + 10);
        b[1034] = r.site;
        b[1035] = static_cast<uint8_t>(r.card >> 8);
        b[1036] = static_cast<uint8_t>(r.card & 0xFF);
        b[1037] = static_cast<uint8_t>(photoId >> 16);
        b[1038] = static_cast<uint8_t>(photoId >> 8);
        b[1039] = static_cast<uint8_t>(photoId);
        b[1040] = r.year;
        b[1041] = r.month;
        b[1042] = r.day;
        b[1043] = r.hour;
        b[1044] = r.minute;
        b[1045] = r.second;
        b[1050] = static_cast<uint8_t>(count);
        b[1051] = static_cast<uint8_t>(k);
        blocks.push_back(std::move(b));
    }
    return blocks;
}

bool push_live_photo(Simulator& sim, int id, const StoredRecord& record, const std::vector<size_t>& order) {
    if (!sim.state(id).monitor.set) return false;
    std::vector<Bytes> blocks;
    sim.update_state(id,
                     [&](ControllerState& s) { blocks = live_photo_blocks(record, ++s.records.livePhotos); });
    std::vector<size_t> sequence = order;
    if (sequence.empty()) {
        for (size_t k = 0; k < blocks.size(); ++k) sequence.push_back(k);
    }
    // The host takes blocks only in order; what it cannot have taken is
    // what a resend request brings.
    size_t expected = 0;
    for (size_t k : sequence) {
        if (k == expected) ++expected;
    }
    const bool disturbed = sim.faults(id).disturbs_way_out();
    sim.update_state(id, [&](ControllerState& s) {
        s.records.livePhoto = blocks;
        s.records.livePhotoMissingFrom = disturbed ? 0 : expected;
        s.records.livePhotoResendAll = disturbed;
    });
    for (size_t k : sequence) {
        if (k < blocks.size() && !sim.push(id, blocks[k])) return false;
    }
    return true;
}

bool push_error_report(Simulator& sim, int id, const std::string& text) {
    return sim.push(id, Bytes(text.begin(), text.end()));
}

}  // namespace doorsim
