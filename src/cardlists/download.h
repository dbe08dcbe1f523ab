// Sending a card list file to a controller: a count announcement, then one
// datagram per record (five copies each), with progress keys.
#pragma once

#include <cstdint>

#include "cardlists/card_record.h"
#include "core/transport.h"

namespace doorlink::cardlists {

constexpr size_t kAnnouncementLength = 26;
constexpr size_t kAnnouncementReplyLength = 12;
constexpr size_t kRecordDatagramLength = 526;
constexpr size_t kRecordReplyLength = 14;
constexpr int kRecordCopies = 5;
constexpr int kProgressStep = 50;
constexpr int32_t kMaxDownloadCount = 65535;  // the count travels in two bytes

uint32_t DownloadList(core::Transport& transport, const char* address, int32_t count, int32_t listNumber,
                      const char* macText, RecordKind kind);

}  // namespace doorlink::cardlists
