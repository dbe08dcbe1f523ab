// A controller's network settings and the return address it reports to.
#pragma once

#include <array>
#include <cstdint>

#include "core/mac.h"

namespace doorlink::devices {

// The caller's 15-byte settings record.
constexpr size_t kSettingsRecordLength = 15;
constexpr size_t kRecordNewAddressAt = 0;
constexpr size_t kRecordTimeValueAt = 4;
constexpr size_t kRecordImageModeAt = 5;
constexpr size_t kRecordDeviceNumberAt = 6;
constexpr size_t kRecordMaskAt = 7;
constexpr size_t kRecordGatewayAt = 11;

constexpr size_t kSettingsRequestLength = 48;
constexpr size_t kReturnAddressRequestLength = 30;

// Time values 0..60 and 99, device numbers 1..254.
bool settings_record_valid(const uint8_t* record);

std::array<uint8_t, kSettingsRequestLength> build_settings_request(const uint8_t* record,
                                                                   const core::Mac& mac);

// hostAddress in network order, as a socket address holds it.
std::array<uint8_t, kReturnAddressRequestLength> build_return_address_request(uint32_t hostAddress,
                                                                              uint16_t localPort,
                                                                              const core::Mac& mac);

}  // namespace doorlink::devices
