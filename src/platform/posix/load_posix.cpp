// The shared library's load-time entry point on POSIX. Kept in a file of its
// own so that a static link only runs the set-up on first use.
#include "platform/module_entry.h"

namespace {

__attribute__((constructor)) void doorlink_load() { doorlink::on_process_attach(); }

}  // namespace
