// A day's time ranges as a card's JSON, CSV or `card set` gives them
// (normal_day_text).
//   the whole input is the text.
// A text accepted gives its ranges in the stored form, "hhmm-hhmm-tt;"
// each, at most kMaxRangesPerDay, every start before its end and every
// tag 0 to 255, and that form reads back as itself; a text refused says
// why.
#include <string>

#include "cards/day_text.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

int number(const std::string& text, size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) {
        FUZZ_CHECK(text[i] >= '0' && text[i] <= '9');
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The ranges of a stored form, each checked; their count.
int stored_ranges(const std::string& normal) {
    int ranges = 0;
    size_t at = 0;
    while (at < normal.size()) {
        const size_t end = normal.find(';', at);
        FUZZ_CHECK(end != std::string::npos);
        const size_t length = end - at;
        FUZZ_CHECK((length == 12 || length == 13) && normal[at + 4] == '-' && normal[at + 9] == '-');
        const int from = number(normal, at, 2) * 60 + number(normal, at + 2, 2);
        const int to = number(normal, at + 5, 2) * 60 + number(normal, at + 7, 2);
        const int tag = number(normal, at + 10, length - 10);
        FUZZ_CHECK(number(normal, at, 2) <= 23 && number(normal, at + 2, 2) <= 59);
        FUZZ_CHECK(number(normal, at + 5, 2) <= 23 && number(normal, at + 7, 2) <= 59);
        FUZZ_CHECK(from < to && tag <= 255 && (length == 12) == (tag < 100));
        ++ranges;
        at = end + 1;
    }
    return ranges;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string normal;
    std::string reason;
    if (!normal_day_text(text, normal, reason)) {
        FUZZ_CHECK(!reason.empty());
        return 0;
    }
    FUZZ_CHECK(reason.empty());
    FUZZ_CHECK(stored_ranges(normal) <= kMaxRangesPerDay);
    if (text.empty()) FUZZ_CHECK(normal.empty());
    std::string again;
    FUZZ_CHECK(normal_day_text(normal, again, reason) && again == normal);
    return 0;
}
