#include "devices/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace doorlink::devices {

const EntryKeyOrder kDiscoveryKeyOrder = {EntryKey::Address,   EntryKey::DeviceNumber, EntryKey::Mask,
                                          EntryKey::TimeValue, EntryKey::Gateway,      EntryKey::ImageMode};
const EntryKeyOrder kSettingsKeyOrder = {EntryKey::DeviceNumber, EntryKey::Address, EntryKey::TimeValue,
                                         EntryKey::ImageMode,    EntryKey::Mask,    EntryKey::Gateway};

namespace {

constexpr const char* kTotalSection = "EqmTotal";
constexpr const char* kTotalKey = "EqmTotal";

struct KeyName {
    const char* section;
    const char* keyPrefix;
};

// Section and key prefix of each value. The device number is written as
// "EqmNo%d" in section "EqmNO"; names are matched without regard to case.
KeyName name_of(EntryKey key) {
    switch (key) {
        case EntryKey::Address: return {"EqmIP", "EqmIP"};
        case EntryKey::DeviceNumber: return {"EqmNO", "EqmNo"};
        case EntryKey::Mask: return {"EqmNet", "EqmNet"};
        case EntryKey::TimeValue: return {"EqmTime", "EqmTime"};
        case EntryKey::Gateway: return {"EqmGate", "EqmGate"};
        case EntryKey::ImageMode: return {"EqmImg", "EqmImg"};
    }
    return {"EqmIP", "EqmIP"};
}

const std::string& value_of(const RegistryEntry& entry, EntryKey key) {
    switch (key) {
        case EntryKey::Address: return entry.address;
        case EntryKey::DeviceNumber: return entry.deviceNumber;
        case EntryKey::Mask: return entry.mask;
        case EntryKey::TimeValue: return entry.timeValue;
        case EntryKey::Gateway: return entry.gateway;
        case EntryKey::ImageMode: return entry.imageMode;
    }
    return entry.address;
}

std::string key_text(const char* prefix, int64_t index) {
    char key[48];
    std::snprintf(key, sizeof key, "%s%lld", prefix, static_cast<long long>(index));
    return key;
}

}  // namespace

int64_t ReadRegistryTotal(const std::string& path) {
    // A negative count would make the next entry index 0 or less.
    int32_t total = platform::profile_read_int(kTotalSection, kTotalKey, 0, path.c_str());
    return total < 0 ? 0 : total;
}

void WriteRegistryTotal(const std::string& path, int64_t total) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(total));
    platform::profile_write_string(kTotalSection, kTotalKey, text, path.c_str());
}

namespace {

// The entry index a key name of section "EqmIP" stands for: the name that
// key_text prints for it, matched without regard to case; 0 for any other
// name and for indexes above total.
int64_t index_of_key(std::string_view name, std::string_view prefix, int64_t total) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 18) return 0;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return 0;
        }
    }
    const std::string_view digits = name.substr(prefix.size());
    if (digits[0] == '0') return 0;
    int64_t index = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        index = index * 10 + (c - '0');
    }
    return index <= total ? index : 0;
}

// The indexes from 1 to total whose "EqmIP%d" key the file holds, ascending.
std::vector<int64_t> present_entries(const std::string& path, int64_t total) {
    const KeyName name = name_of(EntryKey::Address);
    std::vector<int64_t> indexes;
    for (const std::string& key : platform::profile_read_key_names(name.section, path.c_str())) {
        if (int64_t index = index_of_key(key, name.keyPrefix, total)) indexes.push_back(index);
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    return indexes;
}

}  // namespace

EntryLookup FindRegistryEntry(const std::string& path, const char* address, size_t valueSize) {
    EntryLookup lookup;
    lookup.total = ReadRegistryTotal(path);
    lookup.index = lookup.total + 1;
    if (!address || valueSize == 0) return lookup;
    // The entries from 1 to "EqmTotal" in turn, as if each were read; only
    // those the file holds are, so that a count far beyond them costs
    // nothing. An absent entry reads as the empty text.
    const bool emptyAddress = address[0] == '\0';
    std::vector<char> value(valueSize);
    const KeyName name = name_of(EntryKey::Address);
    int64_t firstUnread = 1;
    for (int64_t i : present_entries(path, lookup.total)) {
        if (emptyAddress && i > firstUnread) break;
        platform::profile_read_string(name.section, key_text(name.keyPrefix, i).c_str(), nullptr,
                                      value.data(), static_cast<uint32_t>(valueSize), path.c_str());
        if (std::strcmp(value.data(), address) == 0) {
            lookup.index = i;
            return lookup;
        }
        firstUnread = i + 1;
    }
    if (emptyAddress && firstUnread <= lookup.total) lookup.index = firstUnread;
    return lookup;
}

void WriteRegistryEntry(const std::string& path, int64_t index, const RegistryEntry& entry,
                        const EntryKeyOrder& order) {
    for (EntryKey key : order) {
        const KeyName name = name_of(key);
        platform::profile_write_string(name.section, key_text(name.keyPrefix, index).c_str(),
                                       value_of(entry, key).c_str(), path.c_str());
    }
}

std::string DottedText(const uint8_t* fourBytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", fourBytes[0], fourBytes[1], fourBytes[2], fourBytes[3]);
    return text;
}

std::string ImageModeText(uint8_t mode) { return mode == 2 ? "2" : mode == 3 ? "3" : "1"; }

}  // namespace doorlink::devices
