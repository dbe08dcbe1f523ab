// A day's time ranges as people write them, and the form the controller
// reads them back in ("hhmm-hhmm-tt;" per range).
#pragma once

#include <string>
#include <string_view>

namespace doorlinkd {

constexpr int kMaxRangesPerDay = 8;

// A range is a start time, an end time and a tag, each followed by one of
// the separators ,:;-/ (the last one may be missing). Puts the stored form
// into normal and returns true, or puts what is wrong into reason.
bool normal_day_text(std::string_view text, std::string& normal, std::string& reason);

}  // namespace doorlinkd
