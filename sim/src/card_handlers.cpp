// The card list: a count announcement starts a new list, list record
// datagrams fill it by index, read-back requests return one record each.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "handlers.h"

namespace doorsim {
namespace {

constexpr size_t kRecordAt = 10;
constexpr size_t kRecordCountAt = 522;
constexpr size_t kRecordIndexAt = 524;
constexpr size_t kReadBackReplyLength = 528;
constexpr size_t kReplyIndexAt = 510;
constexpr size_t kReplyTotalAt = 526;

unsigned u16(const Bytes& r, size_t at) { return r[at] * 256u + r[at + 1]; }

void put_u16(Bytes& b, size_t at, unsigned value) {
    b[at] = static_cast<uint8_t>(value / 256 & 0xFF);
    b[at + 1] = static_cast<uint8_t>(value % 256);
}

CardListState::Record empty_record() {
    CardListState::Record record;
    record.fill(0xFF);
    return record;
}

// Announcement: code and sub-code twice, count and MAC twice (26 bytes).
bool announce(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x49, 0x94, 0x04, 0x14, 0x55, 0x49, 0x94, 0x04, 0x14, 0x55})) return false;
    if (r.size() != 26 || !mac_at(r, 12, state) || !mac_at(r, 20, state)) return true;
    if (u16(r, 10) != u16(r, 18)) return true;
    CardListState& cards = state.cards;
    cards.records.assign(u16(r, 10), empty_record());
    cards.burstIndex = -1;
    cards.burstCopies = 0;
    ++cards.announcements;
    cards.saveWanted = cards.records.empty();
    Bytes reply = kAcknowledgement;
    reply.push_back(r[10]);
    reply.push_back(r[11]);
    out.reply(std::move(reply));
    return true;
}

// List record: code and sub-code twice, the record from byte 10, count and
// index at 522 (526 bytes, no MAC).
bool store_record(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x50, 0x05, 0x15, 0x25, 0x77, 0x50, 0x05, 0x15, 0x25, 0x77})) return false;
    if (r.size() != 526) return true;
    CardListState& cards = state.cards;
    const unsigned count = u16(r, kRecordCountAt);
    const unsigned index = u16(r, kRecordIndexAt);
    if (count != cards.records.size() || index >= count) return true;
    std::copy(r.begin() + kRecordAt, r.begin() + kRecordAt + CardListState::kRecordSize,
              cards.records[index].begin());
    ++cards.recordsStored;
    if (static_cast<int>(index) == cards.burstIndex && cards.burstCopies % 5 != 0) {
        ++cards.burstCopies;
        return true;
    }
    cards.burstIndex = static_cast<int>(index);
    cards.burstCopies = 1;
    if (index + 1 == count) cards.saveWanted = true;
    Bytes reply = kAcknowledgement;
    reply.insert(reply.end(), r.begin() + kRecordCountAt, r.begin() + kRecordIndexAt + 2);
    out.reply(std::move(reply));
    return true;
}

// Read-back: code, sub-code, index, MAC, 0 (14 bytes). The reply carries the
// record, its index at 510 and the number of records at 526.
bool read_back(const Bytes& r, ControllerState& state, Responder& out) {
    if (!starts_with(r, {0x32, 0x23, 0x33, 0x43, 0x77})) return false;
    if (r.size() != 14 || !mac_at(r, 7, state)) return true;
    CardListState& cards = state.cards;
    const unsigned index = u16(r, 5);
    Bytes reply(kReadBackReplyLength, 0x00);
    const CardListState::Record record = index < cards.records.size() ? cards.records[index] : empty_record();
    std::copy(record.begin(), record.end(), reply.begin());
    put_u16(reply, kReplyIndexAt, index);
    put_u16(reply, kReplyTotalAt, static_cast<unsigned>(cards.records.size()));
    ++cards.readBacks;
    out.reply(std::move(reply));
    return true;
}

}  // namespace

void add_card_handlers(std::vector<Handler>& table) {
    table.push_back(announce);
    table.push_back(store_record);
    table.push_back(read_back);
}

bool save_card_list(const CardListState& cards, const std::string& path) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (const auto& record : cards.records) {
            out.write(reinterpret_cast<const char*>(record.data()),
                      static_cast<std::streamsize>(record.size()));
        }
        if (!out.good()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool load_card_list(CardListState& cards, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<CardListState::Record> records;
    CardListState::Record record;
    while (in.read(reinterpret_cast<char*>(record.data()), record.size())) records.push_back(record);
    cards.records = std::move(records);
    return true;
}

}  // namespace doorsim
