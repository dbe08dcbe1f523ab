// The outcome of archiving one controller, as stored with its run and printed.
#pragma once

#include <string>

namespace doorlinkd {

enum class ArchiveStatus { Done, Unreachable, Busy };
const char* status_name(ArchiveStatus status);  // "done", "unreachable", "busy"

struct ArchiveResult {
    std::string controller;
    ArchiveStatus status = ArchiveStatus::Unreachable;
    int records = 0;  // stored by this run
    int photos = 0;
    std::string message;
};

}  // namespace doorlinkd
