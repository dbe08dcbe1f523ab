// The controllers' clocks against this process's: both are local times, in
// the process's time zone (serve's --time-zone, else the host's).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace doorlinkd {

// Seconds a controller's clock text "yy-mm-dd hh:mm:ss" (local time, in the
// century of hostNow) is ahead of hostNow; none for a text that is no time.
std::optional<int64_t> clock_skew(const std::string& clockText, std::time_t hostNow);

// "yyyymmddhhmmss" of a moment in local time: the form of record times.
std::string local_time_text(std::time_t when);

}  // namespace doorlinkd
