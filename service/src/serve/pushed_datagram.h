// What a controller pushes to its monitoring socket, told apart by a look at
// the datagram before any export takes it: the photo and error report
// exports wait for what they expect, so each gets only a datagram it takes
// at once, and the rest is drained here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace doorlinkd {

enum class Pushed {
    PhotoStart,       // block 0 of a live photo: for DoorPic
    ErrorReport,      // any other datagram with content: for ErrorScore
    Acknowledgement,  // a copy of the monitoring request's acknowledgement: drained
    LatePhotoBlock,   // a later block of a photo no one is taking: drained
    Empty,            // drained
};

// The largest datagram a controller pushes; a longer one is an error report
// cut to this length.
constexpr size_t kPushedCapacity = 1055;
constexpr size_t kPhotoBlockLength = 1052;

// length: the datagram's whole length (bytes may hold fewer of its bytes,
// at most kPushedCapacity).
Pushed classify_pushed(const uint8_t* bytes, size_t length);

// The card text ("%03d%05d" of site and card, as the photo export names the
// photo's file) of a photo block; none when the bytes (taken: how many of
// the datagram's bytes are at hand) are too few to hold it.
std::optional<std::string> photo_card(const uint8_t* bytes, size_t taken);

}  // namespace doorlinkd
