// The library's load-time set-up, which the platform backend calls once when
// the host process loads the library (and which the first export runs
// otherwise).
#pragma once

namespace doorlink {

void on_process_attach();

}  // namespace doorlink
