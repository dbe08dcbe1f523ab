#include "serve/pushed_datagram.h"

#include <cstdio>

namespace doorlinkd {
namespace {

// A photo block's site (one byte) and card (two, high byte first).
constexpr size_t kSiteAt = 1034;
constexpr size_t kCardAt = 1035;
constexpr size_t kBlockNumberAt = 1051;
constexpr size_t kAcknowledgementLength = 10;

}  // namespace

Pushed classify_pushed(const uint8_t* bytes, size_t length) {
    if (length == 0) return Pushed::Empty;
    if (length == kAcknowledgementLength && bytes[0] == 0xF1 && bytes[1] == 0xF2)
        return Pushed::Acknowledgement;
    if (length == kPhotoBlockLength) {
        return bytes[kBlockNumberAt] == 0 ? Pushed::PhotoStart : Pushed::LatePhotoBlock;
    }
    return Pushed::ErrorReport;
}

std::optional<std::string> photo_card(const uint8_t* bytes, size_t taken) {
    if (bytes == nullptr || taken < kCardAt + 2) return std::nullopt;
    const unsigned card = bytes[kCardAt] * 256u + bytes[kCardAt + 1];
    char text[16];
    std::snprintf(text, sizeof text, "%03u%05u", static_cast<unsigned>(bytes[kSiteAt]), card);
    return std::string(text);
}

}  // namespace doorlinkd
