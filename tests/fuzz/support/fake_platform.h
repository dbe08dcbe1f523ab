// Fake platform backends for the fuzz targets whose code reaches the network,
// the clock or a serial port directly rather than through the transport
// seam. A target links the fakes it needs in place of the library's own
// backend files (fake_net.cpp for platform/net.h, fake_clock.cpp for
// platform/clock.h, fake_serial.cpp for platform/serial.h): each fake defines
// every function of its interface, so the linker takes no member of the
// static library for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/datagram_script.h"

namespace doorlink::fuzz {

// The script that the fake network's receives answer from; null: silence.
void use_network_script(DatagramScript* script);

// The card reader's side of the fake serial port, read from bytes:
//   byte 0: refusals of the port set-up, one bit each (open, event mask,
//           get time-outs, set time-outs, get state, set state, purge);
//   then, for each query of the line (before every poll and every read):
//           one byte: bit 7 a line error, bit 6 a failed query, bits 0-3
//           the bytes that arrive now; the arriving bytes follow it.
void use_serial_script(const uint8_t* data, size_t size);

}  // namespace doorlink::fuzz

namespace doorlink::fuzz {

// Whether the fake serial port is open (GetCardNo must close it).
bool serial_port_open();

}  // namespace doorlink::fuzz
