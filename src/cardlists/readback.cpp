#include "cardlists/readback.h"

#include <array>

#include "cardlists/binary_file.h"
#include "cardlists/list_files.h"
#include "cardlists/progress.h"
#include "core/bytes.h"
#include "core/controller_link.h"
#include "core/exchange.h"
#include "core/mac.h"

namespace doorlink::cardlists {
namespace {

// Request: code, sub-code, record index, MAC, a final zero.
constexpr uint8_t kReadBackCode[5] = {0x32, 0x23, 0x33, 0x43, 0x77};
constexpr size_t kIndexAt = 5;
constexpr size_t kMacAt = 7;
// Reply: the stored long record first, the index at 510, the total at 526.
constexpr size_t kReplyIndexAt = 510;
constexpr size_t kReplyTotalAt = 526;
constexpr int kReplyCapacity = 1024;

// Asks for record index until a reply of the right length and index comes,
// forgiving as many silences on it as given. A reply for an earlier index is
// stale: the one that is due may still follow it. The reply stays in buffer.
bool fetch(core::ControllerLink& link, const core::Mac& mac, uint32_t index, int silencesAllowed,
           uint8_t* buffer) {
    std::array<uint8_t, kReadBackRequestLength> request{};
    core::ByteWriter(request)
        .bytes(0, kReadBackCode, sizeof kReadBackCode)
        .u16_be(kIndexAt, index)
        .bytes(kMacAt, mac);
    auto fit = [&](int received) {
        if (received != static_cast<int>(kReadBackReplyLength)) return core::Fit::Wrong;
        const uint32_t carried = core::ByteReader(buffer, kReadBackReplyLength).u16_be(kReplyIndexAt);
        return carried == index ? core::Fit::Due : carried < index ? core::Fit::Stale : core::Fit::Wrong;
    };
    return link.request(request.data(), request.size(), 1, buffer, kReplyCapacity, false, fit,
                        silencesAllowed, core::Repeatable::ReadBackIndex);
}

}  // namespace

uint32_t ReadBackList(core::Transport& transport, const char* address, int32_t listNumber,
                      const char* macText) {
    core::Mac mac;
    if (!address || !core::ParseMacText(macText, mac)) return 0;
    EnsureListDirectory();
    BinaryFile file(ReadBackFilePath(listNumber), "wb+");
    if (!file.is_open()) return 0;
    core::ControllerLink link(transport, address);
    if (!link.open()) return 0;

    uint8_t reply[kReplyCapacity];
    // Record 0 also tells how many records the controller holds; a silence
    // there ends the read-back at once.
    if (!fetch(link, mac, 0, 0, reply) || !file.write(reply, kReadBackRecordSize)) return 0;
    uint32_t total = core::ByteReader(reply, kReadBackReplyLength).u16_be(kReplyTotalAt);
    WriteProgress("ReTolNameList", listNumber, static_cast<long>(total));

    for (uint32_t i = 1; i < total; ++i) {
        if (!fetch(link, mac, i, kMaxSilencesPerRecord, reply) || !file.write(reply, kReadBackRecordSize)) {
            return 0;
        }
        // The controller's count may change under way; the latest one holds.
        total = core::ByteReader(reply, kReadBackReplyLength).u16_be(kReplyTotalAt);
        if (i % 50 == 0 || i + 1 == total)
            WriteProgress("ReCurNameList", listNumber, static_cast<long>(i) + 1);
    }
    return file.close() ? 1 : 0;
}

}  // namespace doorlink::cardlists
