// Reading a controller's card list back, one record per request, into the
// read-back card file, with progress keys; and turning such a file into an
// INI file of the source file's keys.
#pragma once

#include <cstdint>

#include "core/transport.h"

namespace doorlink::cardlists {

constexpr size_t kReadBackRequestLength = 14;
constexpr size_t kReadBackReplyLength = 528;
constexpr size_t kReadBackRecordSize = 360;
// Silences forgiven on one record; the next one ends the read-back.
constexpr int kMaxSilencesPerRecord = 5;

uint32_t ReadBackList(core::Transport& transport, const char* address, int32_t listNumber,
                      const char* macText);

// Writes "ReCard%03d.ini" beside the read-back card file.
uint32_t ReadBackToIni(const char* readBackPath, int32_t number);

}  // namespace doorlink::cardlists
