// The device registry file "eqminfo.ini": one entry per known controller,
// spread over six sections keyed by the entry index, and "EqmTotal", the
// number of entries in use. Discovery and the network settings change share
// the one lookup and the one writer below; each passes its own key order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace doorlink::devices {

// One controller's values, as the texts written into its entry.
struct RegistryEntry {
    std::string address;
    std::string deviceNumber;
    std::string mask;
    std::string timeValue;
    std::string gateway;
    std::string imageMode;
};

enum class EntryKey : uint8_t { Address, DeviceNumber, Mask, TimeValue, Gateway, ImageMode };
using EntryKeyOrder = std::array<EntryKey, 6>;

// Discovery writes "EqmIP", "EqmNo", "EqmNet", "EqmTime", "EqmGate", "EqmImg".
extern const EntryKeyOrder kDiscoveryKeyOrder;
// The settings change writes "EqmNo", "EqmIP", "EqmTime", "EqmImg", "EqmNet", "EqmGate".
extern const EntryKeyOrder kSettingsKeyOrder;

// "EqmTotal": its leading number, 0 when absent, not numeric or negative.
int64_t ReadRegistryTotal(const std::string& path);
void WriteRegistryTotal(const std::string& path, int64_t total);

struct EntryLookup {
    int64_t total = 0;  // "EqmTotal" as read
    int64_t index = 0;  // the matching entry, or total + 1
};

// The first entry from 1 to "EqmTotal" whose "EqmIP%d", read into a buffer
// of valueSize bytes, equals address byte for byte; else "EqmTotal" + 1.
EntryLookup FindRegistryEntry(const std::string& path, const char* address, size_t valueSize);

// Writes the six keys of entry index, one after the other in the given order.
void WriteRegistryEntry(const std::string& path, int64_t index, const RegistryEntry& entry,
                        const EntryKeyOrder& order);

// Texts of the values as the registry holds them.
std::string DottedText(const uint8_t* fourBytes);  // "%d.%d.%d.%d", first byte first
std::string ImageModeText(uint8_t mode);           // "1", "2" or "3"; "1" for anything else

}  // namespace doorlink::devices
