// The event stream's place: the Last-Event-ID header of
// GET /api/v1/events/stream, and its after= (event_id_number).
//   the whole input is the header's value.
// Only HttpError 400 leaves it; an id accepted is the text's number, and
// every text of 1 to 18 digits is one.
#include <string>

#include "http/request_forms.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool digits =
        !text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == std::string::npos;
    try {
        const int64_t id = event_id_number(text, "Last-Event-ID");
        FUZZ_CHECK(digits && id >= 0);
        const size_t first = text.find_first_not_of('0');
        FUZZ_CHECK(std::to_string(id) == (first == std::string::npos ? "0" : text.substr(first)));
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400 && !digits);
        FUZZ_CHECK(std::string(e.what()).rfind("Last-Event-ID: ", 0) == 0);
    }
    return 0;
}
