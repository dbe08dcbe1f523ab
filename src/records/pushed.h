// What a monitored controller pushes on its own: error reports and live
// photos, received on the monitoring socket that the host owns.
#pragma once

#include <cstdint>

#include "core/transport.h"
#include "records/record_retrieval.h"

namespace doorlink::records {

constexpr int kPushBufferCapacity = 1055;
// Error text: ten bytes before the report, up to 1055 bytes of it, a zero.
constexpr size_t kErrorTextSize = 1066;
constexpr int kLivePhotoBlockLength = 1052;
// Silences in a row in the middle of a photo after which DoorPic gives up.
constexpr int kMaxPhotoSilences = 5;

// A copy of the acknowledgement of the monitoring request (10 bytes opening
// with 0xF1 0xF2), which a monitoring socket may still hold: no push.
inline bool IsMonitoringAcknowledgement(const uint8_t* datagram, int length) {
    return length == 10 && datagram[0] == 0xF1 && datagram[1] == 0xF2;
}

// Receives one error report on the socket, forms the error text into text
// (kErrorTextSize bytes) and appends it to the controller's error log file.
uint32_t ReceiveErrorReport(core::Transport& transport, core::SocketHandle socket, char* text,
                            int controller);

// Receives one live photo into "curpic"; card text (9 bytes) and time text
// (17 bytes) go to the caller.
uint32_t ReceiveLivePhoto(core::Transport& transport, core::SocketHandle socket, char* cardText,
                          char* timeText, LocalClock clock = platform::local_time);

}  // namespace doorlink::records
