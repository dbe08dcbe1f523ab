// TxDataRtn: the transfer request, block requests by number, and the record
// lines of every slot.
#include "records/transfer_retrieval.h"

#include <array>
#include <cstring>

#include "core/bytes.h"
#include "core/controller_link.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"
#include "records/record_files.h"

namespace doorlink::records {
namespace {

// Transfer request: code, sub-code, MAC, a final zero.
constexpr size_t kRequestLength = 12;
constexpr uint8_t kTransferCode[4] = {0x40, 0x14, 0x24, 0x34};
constexpr uint8_t kTransferSubCode = 0x66;
constexpr size_t kMacAt = 5;

// Block request: 0xFF 0xFF, number of blocks, number of the last block had.
constexpr size_t kBlockRequestLength = 6;
constexpr size_t kFinalBlockRequestLength = 12;
constexpr size_t kBlockCountAt = 2;
constexpr size_t kLastBlockAt = 4;

// Transfer block.
constexpr uint8_t kBlockHead[2] = {0x40, 0x14};
constexpr size_t kFirstSlotAt = 5;
constexpr size_t kSlotLength = 16;
constexpr size_t kBlocksAt = 1029;
constexpr size_t kBlockNumberAt = 1031;
constexpr size_t kLastBlockRecordsAt = 1033;

// Record slot.
constexpr size_t kSlotYear = 0, kSlotMonth = 1, kSlotDay = 2, kSlotHour = 3, kSlotMinute = 4, kSlotSecond = 5,
                 kSlotSite = 6, kSlotCard = 7, kSlotKind = 9;

class Transfer {
public:
    Transfer(core::Transport& transport, const char* address, int controller, LocalClock clock)
        : link_(transport, address), controller_(controller), clock_(clock) {}

    uint32_t run(const core::Mac& mac);

private:
    int receive() {
        std::memset(buffer_, 0, sizeof buffer_);
        return link_.receive(buffer_, kRetrievalBufferSize);
    }
    bool send_copies(const uint8_t* data, size_t length) {
        return link_.send_copies(data, length, kTransferRequestCopies);
    }
    bool is_block(int length, uint32_t number) const {
        core::ByteReader r(buffer_, static_cast<size_t>(length));
        return length == kTransferBlockLength && r.equals(0, kBlockHead, 2) &&
               r.u16_be(kBlockNumberAt) == number;
    }
    // The records of the last block, never more than the block's slots.
    uint32_t last_block_records() const {
        const uint32_t count = buffer_[kLastBlockRecordsAt];
        return count > kSlotsPerBlock ? kSlotsPerBlock : count;
    }
    // Asks for block b until it comes. A copy of an earlier block is stale:
    // block b may still follow it.
    bool fetch_block(const std::array<uint8_t, kBlockRequestLength>& request, uint32_t b) {
        auto fit = [&](int length) {
            const core::ByteReader r(buffer_, static_cast<size_t>(length));
            if (length != kTransferBlockLength || !r.equals(0, kBlockHead, 2)) return core::Fit::Wrong;
            const uint32_t number = r.u16_be(kBlockNumberAt);
            return number == b ? core::Fit::Due : number < b ? core::Fit::Stale : core::Fit::Wrong;
        };
        return link_.request(request.data(), request.size(), kTransferRequestCopies, buffer_,
                             kRetrievalBufferSize, true, fit, 0, core::Repeatable::TransferBlock);
    }
    bool write_slots(uint32_t count);
    uint32_t finish(uint32_t result) {
        files_.close();
        link_.close();
        return result;
    }

    core::ControllerLink link_;
    const int controller_;
    const LocalClock clock_;
    uint8_t buffer_[kRetrievalBufferSize] = {};
    RecordFiles files_;
};

bool Transfer::write_slots(uint32_t count) {
    core::ByteReader r(buffer_, kTransferBlockLength);
    for (uint32_t j = 0; j < count && j < kSlotsPerBlock; ++j) {
        const size_t slot = kFirstSlotAt + kSlotLength * j;
        RecordTime t;
        t.year = FourDigitYear(r.u8(slot + kSlotYear), clock_());
        t.month = r.u8(slot + kSlotMonth);
        t.day = r.u8(slot + kSlotDay);
        t.hour = r.u8(slot + kSlotHour);
        t.minute = r.u8(slot + kSlotMinute);
        t.second = r.u8(slot + kSlotSecond);
        const std::string card = CardText(r.u8(slot + kSlotSite), r.u16_be(slot + kSlotCard));
        const std::string line = RecordLine(card, t, controller_, r.u8(slot + kSlotKind));
        if (!files_.write_line(line, RecordFiles::Order::ControllerFirst)) return false;
    }
    return true;
}

uint32_t Transfer::run(const core::Mac& mac) {
    if (!link_.open()) return kTransferFailed;
    std::array<uint8_t, kRequestLength> request{};
    core::ByteWriter(request).bytes(0, kTransferCode, 4).u8(4, kTransferSubCode).bytes(kMacAt, mac);
    if (!files_.open(controller_, clock_())) return finish(kTransferFailed);

    // The transfer request until a block (or the end marker) answers it.
    int length = -1;
    for (int rejected = 0;; ++rejected) {
        if (rejected >= core::kMaxRejectedReplies) return finish(kTransferFailed);
        if (!send_copies(request.data(), request.size())) return finish(kTransferFailed);
        length = receive();
        if (length == -1) return finish(kTransferFailed);
        if (length == 5 && std::memcmp(buffer_, kEndMarker, 5) == 0) return finish(kTransferEndMarker);
        if (length == kTransferBlockLength) break;
    }
    if (!is_block(length, 1)) return finish(kTransferFailed);

    const uint32_t blocks = core::ByteReader(buffer_, kTransferBlockLength).u16_be(kBlocksAt);
    if (blocks <= 1) {
        const uint32_t count = last_block_records();
        WriteTotalImages(controller_, count);
        WriteCurrentImage(controller_, count);
        return finish(write_slots(count) ? kTransferComplete : kTransferFailed);
    }
    const long total = static_cast<long>(blocks - 1) * kSlotsPerBlock + last_block_records();
    WriteTotalImages(controller_, total);
    WriteCurrentImage(controller_, kSlotsPerBlock);
    if (!write_slots(kSlotsPerBlock)) return finish(kTransferFailed);

    uint32_t lastRecords = 0;
    for (uint32_t b = 2; b <= blocks; ++b) {
        std::array<uint8_t, kBlockRequestLength> blockRequest{};
        core::ByteWriter(blockRequest)
            .u8(0, 0xFF)
            .u8(1, 0xFF)
            .u16_be(kBlockCountAt, blocks)
            .u16_be(kLastBlockAt, b - 1);
        if (!fetch_block(blockRequest, b)) return finish(kTransferFailed);
        if (b < blocks) {
            WriteCurrentImage(controller_, static_cast<long>(b) * kSlotsPerBlock);
            if (!write_slots(kSlotsPerBlock)) return finish(kTransferFailed);
        } else {
            lastRecords = last_block_records();
            if (!write_slots(lastRecords)) return finish(kTransferFailed);
        }
    }

    // The final block request carries the rest of the transfer request.
    std::array<uint8_t, kFinalBlockRequestLength> finalRequest{};
    core::ByteWriter(finalRequest)
        .u8(0, 0xFF)
        .u8(1, 0xFF)
        .u16_be(kBlockCountAt, blocks)
        .u16_be(kLastBlockAt, blocks)
        .bytes(kBlockRequestLength, request.data() + kBlockRequestLength,
               kFinalBlockRequestLength - kBlockRequestLength);
    if (!send_copies(finalRequest.data(), finalRequest.size())) return finish(kTransferFailed);
    WriteCurrentImage(controller_, static_cast<long>(blocks - 1) * kSlotsPerBlock + lastRecords);
    return finish(kTransferComplete);
}

}  // namespace

uint32_t TransferRecords(core::Transport& transport, const char* address, int controller,
                         const core::Mac& mac, LocalClock clock) {
    Transfer transfer(transport, address, controller, clock);
    return transfer.run(mac);
}

}  // namespace doorlink::records

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL TxDataRtn(const char* address, int32_t controller,
                                                         const char* macText) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        core::Mac mac;
        if (!core::ParseMacText(macText, mac) || !address) return 0;
        return records::TransferRecords(core::udp_transport(), address, controller, mac);
    });
}
