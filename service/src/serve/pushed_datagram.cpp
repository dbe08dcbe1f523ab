#include "serve/pushed_datagram.h"

namespace doorlinkd {
namespace {

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

}  // namespace doorlinkd
