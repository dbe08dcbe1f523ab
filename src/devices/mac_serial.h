// MAC address changes and queries, and the serial number text of a MAC.
#pragma once

#include <array>
#include <cstdint>

#include "core/mac.h"

namespace doorlink::devices {

constexpr size_t kSetMacRequestLength = 18;
constexpr size_t kMacInfoRequestLength = 30;

// 1 and the 12 upper-case digits of the serial number in serial (13 bytes);
// 0 with serial empty when macText is not 12 hexadecimal digits.
uint32_t MacToSerialNo(const char* macText, char* serial);

// The MAC change request head (18 bytes) at the start of request.
void write_mac_change_request(uint8_t* request, size_t size, const uint8_t* newMac);

// MacInfo's new MAC from a 12-character text: each pair read as strtol reads
// a base-16 number (a pair that does not start with a digit gives 0).
core::Mac mac_from_pairs(const char* text);

}  // namespace doorlink::devices
