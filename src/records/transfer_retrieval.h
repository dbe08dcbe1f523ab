// Record transfer retrieval: the records without photos, in numbered blocks
// of up to 64 records that the library asks for one by one.
#pragma once

#include <cstdint>

#include "core/mac.h"
#include "core/transport.h"
#include "records/record_retrieval.h"

namespace doorlink::records {

constexpr uint32_t kTransferFailed = 0;
constexpr uint32_t kTransferComplete = 1;
constexpr uint32_t kTransferEndMarker = 2;

constexpr int kTransferBlockLength = 1034;
constexpr int kSlotsPerBlock = 64;
constexpr int kTransferRequestCopies = 6;

// Runs one transfer for controller number `controller`; 0 to 2 as TxDataRtn.
uint32_t TransferRecords(core::Transport& transport, const char* address, int controller,
                         const core::Mac& mac, LocalClock clock = platform::local_time);

}  // namespace doorlink::records
