#include "cardlists/readback.h"

#include <array>

#include "cardlists/binary_file.h"
#include "core/controller_link.h"
#include "cardlists/list_files.h"
#include "cardlists/progress.h"
#include "core/bytes.h"
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
// forgiving as many silences on it as given. The reply stays in buffer.
bool fetch(core::ControllerLink& link, const core::Mac& mac, uint32_t index, int silencesAllowed, uint8_t* buffer) {
    std::array<uint8_t, kReadBackRequestLength> request{};
    core::ByteWriter(request)
        .bytes(0, kReadBackCode, sizeof kReadBackCode)
        .u16_be(kIndexAt, index)
        .bytes(kMacAt, mac);
    int silences = 0;
    int rejected = 0;
    for (;;) {
        if (!link.send(request.data(), request.size())) return false;
        const int received = link.receive(buffer, kReplyCapacity);
        if (received == -1) {
            if (++silences > silencesAllowed) return false;
            continue;
        }
        core::ByteReader r(buffer, static_cast<size_t>(received));
        if (received == static_cast<int>(kReadBackReplyLength) && r.u16_be(kReplyIndexAt) == index) {
            return true;
        }
        if (++rejected >= core::kMaxRejectedReplies) return false;
    }
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
        if (!fetch(link, mac, i, kMaxSilencesPerRecord, reply) ||
            !file.write(reply, kReadBackRecordSize)) {
            return 0;
        }
        // The controller's count may change under way; the latest one holds.
        total = core::ByteReader(reply, kReadBackReplyLength).u16_be(kReplyTotalAt);
        if (i % 50 == 0 || i + 1 == total) WriteProgress("ReCurNameList", listNumber, static_cast<long>(i) + 1);
    }
    return file.close() ? 1 : 0;
}

}  // namespace doorlink::cardlists
