#include "cardlists/download.h"

#include <array>
#include <cstring>
#include <vector>

#include "cardlists/binary_file.h"
#include "cardlists/list_files.h"
#include "cardlists/list_guard.h"
#include "cardlists/progress.h"
#include "core/bytes.h"
#include "core/controller_link.h"
#include "core/exchange.h"
#include "core/mac.h"

namespace doorlink::cardlists {
namespace {

using core::ByteWriter;

// Count announcement: code and sub-code twice, then count and MAC twice.
constexpr uint8_t kAnnouncementCode[5] = {0x49, 0x94, 0x04, 0x14, 0x55};
constexpr size_t kCodeLength = 5;
constexpr size_t kCountAt = 10;
constexpr size_t kMacAt = 12;
constexpr size_t kSecondCountAt = 18;
constexpr size_t kSecondMacAt = 20;

// List record datagram: code and sub-code twice, the record, zero fill, then
// count and index; built in a 528-byte area first filled with 0xFF.
constexpr uint8_t kRecordCode[5] = {0x50, 0x05, 0x15, 0x25, 0x77};
constexpr size_t kRecordArea = 528;
constexpr size_t kRecordAt = 10;
constexpr size_t kZeroFillEnd = 522;
constexpr size_t kRecordCountAt = 522;
constexpr size_t kRecordIndexAt = 524;

// Replies: the announcement echoes the count at 10-11 (after the
// acknowledgement), a record reply the count at 10-11 and the index at 12-13.
constexpr size_t kReplyCountAt = 10;
constexpr size_t kReplyIndexAt = 12;
constexpr int kReplyCapacity = 1024;

bool announce(core::ControllerLink& link, int32_t count, const core::Mac& mac) {
    std::array<uint8_t, kAnnouncementLength> request{};
    ByteWriter(request)
        .bytes(0, kAnnouncementCode, kCodeLength)
        .bytes(kCodeLength, kAnnouncementCode, kCodeLength)
        .u16_be(kCountAt, static_cast<uint32_t>(count))
        .bytes(kMacAt, mac)
        .u16_be(kSecondCountAt, static_cast<uint32_t>(count))
        .bytes(kSecondMacAt, mac);
    std::array<uint8_t, kAnnouncementReplyLength> expected{};
    ByteWriter(expected).bytes(0, core::kAcknowledgement).u16_be(kReplyCountAt, static_cast<uint32_t>(count));

    uint8_t reply[kReplyCapacity];
    for (int rejected = 0;;) {
        if (!link.send(request.data(), request.size())) return false;
        std::memset(reply, 0, sizeof reply);
        const int received = link.receive(reply, kReplyCapacity);
        if (received == -1) return false;
        if (received == static_cast<int>(kAnnouncementReplyLength)) {
            if (reply[kReplyCountAt] == expected[kReplyCountAt] &&
                reply[kReplyCountAt + 1] == expected[kReplyCountAt + 1]) {
                return true;
            }
            // A 12-byte reply with another count: from now on only the whole
            // acknowledgement and count will do.
            while (std::memcmp(reply, expected.data(), expected.size()) != 0) {
                if (++rejected >= core::kMaxRejectedReplies) return false;
                if (!link.send(request.data(), request.size())) return false;
                if (link.receive(reply, kReplyCapacity) == -1) return false;
            }
            return true;
        }
        if (++rejected >= core::kMaxRejectedReplies) return false;
    }
}

// Sends record index until the controller acknowledges it. Answers to the
// announcement or to earlier records are stale: the acknowledgement that is
// due may still follow them, so they are no reason to send the record again.
bool send_record(core::ControllerLink& link, const uint8_t* datagram, uint32_t count, uint32_t index) {
    uint8_t reply[kReplyCapacity];
    auto fit = [&](int received) {
        const core::ByteReader r(reply, static_cast<size_t>(received));
        if (received == static_cast<int>(kAnnouncementReplyLength) && r.equals(0, core::kAcknowledgement) &&
            r.u16_be(kReplyCountAt) == count) {
            return core::Fit::Stale;
        }
        if (received != static_cast<int>(kRecordReplyLength) || r.u16_be(kReplyCountAt) != count) {
            return core::Fit::Wrong;
        }
        const uint32_t acknowledged = r.u16_be(kReplyIndexAt);
        return acknowledged == index  ? core::Fit::Due
               : acknowledged < index ? core::Fit::Stale
                                      : core::Fit::Wrong;
    };
    return link.request(datagram, kRecordDatagramLength, kRecordCopies, reply, kReplyCapacity, false, fit);
}

}  // namespace

uint32_t DownloadList(core::Transport& transport, const char* address, int32_t count, int32_t listNumber,
                      const char* macText, RecordKind kind) {
    if (!address) return 0;
    // The host sees the total announced before anything is checked, also when
    // the call then fails.
    WriteProgress("TolNameList", listNumber, count);
    core::Mac mac;
    if (count < 0 || count > kMaxDownloadCount || !core::ParseMacText(macText, mac)) return 0;
    EnsureListDirectory();

    // The list file must hold every record announced; it is read once, and
    // held only while it is read: the records go out from this copy, so that
    // a slow or silent controller holds up no conversion of the list.
    const size_t size = record_size(kind);
    std::vector<uint8_t> records(size * static_cast<size_t>(count));
    if (count > 0) {
        ListFileGuard reading(listNumber, ListFileGuard::Use::Read);
        BinaryFile file(ListFilePath(listNumber), "rb+");
        if (!file.is_open() || file.size() < static_cast<long>(records.size()) ||
            file.read(records.data(), records.size()) != records.size()) {
            return 0;
        }
    }

    core::ControllerLink link(transport, address);
    if (!link.open()) return 0;
    if (!announce(link, count, mac)) return 0;

    // Every record datagram is the same but for the record and its index.
    uint8_t datagram[kRecordArea];
    ByteWriter w(datagram, sizeof datagram);
    w.fill(0xFF)
        .bytes(0, kRecordCode, kCodeLength)
        .bytes(kCodeLength, kRecordCode, kCodeLength)
        .u16_be(kRecordCountAt, static_cast<uint32_t>(count));
    std::memset(datagram + kRecordAt + size, 0, kZeroFillEnd - (kRecordAt + size));
    for (int32_t i = 0; i < count; ++i) {
        w.bytes(kRecordAt, records.data() + size * static_cast<size_t>(i), size)
            .u16_be(kRecordIndexAt, static_cast<uint32_t>(i));
        if (!send_record(link, datagram, static_cast<uint32_t>(count), static_cast<uint32_t>(i))) return 0;
        if (i % kProgressStep == 0 || i == count - 1) WriteProgress("CurNameList", listNumber, i + 1);
    }
    return 1;
}

}  // namespace doorlink::cardlists
