// Record retrieval with photos: the controller streams each photo as photo
// blocks ending in a record block that carries the access record; every block
// is acknowledged by echoing its five-byte trailer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/mac.h"
#include "core/transport.h"
#include "platform/clock.h"

namespace doorlink::records {

// Results of a retrieval.
constexpr uint32_t kRetrievalFailed = 0;
constexpr uint32_t kRetrievalSilentAfterAll = 1;
constexpr uint32_t kRetrievalEndMarker = 2;
constexpr uint32_t kRetrievalShortReply = 3;

// Datagram lengths.
constexpr int kPhotoBlockLength = 1029;
constexpr int kRecordBlockLength = 1045;
constexpr int kShortRecordBlockLength = 533;
constexpr int kShortReplyLength = 10;
constexpr int kRetrievalBufferSize = 1045;

// Sends per request and per acknowledgement, and the silences bridged.
constexpr int kRetrievalRequestCopies = 6;
constexpr int kAcknowledgementCopies = 7;
constexpr int kMaxSilences = 5;
// A photo that grows beyond this ends the retrieval: no controller's camera
// takes one that large, and a peer must not fill the disk.
constexpr size_t kMaxPhotoBytes = size_t{8} * 1024 * 1024;

using LocalClock = platform::LocalTime (*)();

// Runs one retrieval for controller number `controller` into the record files
// and the photo directory; returns 0 to 3 as DataRtn does.
uint32_t RetrieveRecords(core::Transport& transport, const char* address, int controller,
                         const core::Mac& mac, LocalClock clock = platform::local_time);

}  // namespace doorlink::records
