// Sync and archive runs: the body of POST /api/v1/sync and /api/v1/archive,
// {"controllers": [names]} or nothing (json_body,
// controller_names_of_body), and the {id} of /api/v1/sync/runs/{id} and
// /api/v1/archive/runs/{id} (run_path_id).
//   selector byte (even: a body; odd: a run's id), then the text.
// Only HttpError leaves the readers. The names are the body's, in its
// order, each a controller name; a run's id is the path's number.
#include <string>

#include "http/request_forms.h"
#include "model/controller.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

void body(const std::string& text) {
    Json json;
    std::vector<std::string> names;
    try {
        json = json_body(text);
        names = controller_names_of_body(json);
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400 || e.status() == 413);
        return;
    }
    size_t given = 0;
    for (const auto& item : json.items()) {
        FUZZ_CHECK(item.key() == "controllers" && item.value().is_array());
        for (const Json& name : item.value()) {
            FUZZ_CHECK(given < names.size() && name == names[given]);
            ++given;
        }
    }
    FUZZ_CHECK(given == names.size());
    for (const std::string& name : names) FUZZ_CHECK(is_controller_name(name));
}

void run_id(const std::string& text) {
    try {
        const int64_t id = run_path_id(text);
        FUZZ_CHECK(id >= 0 && text.size() <= 18);
        const size_t digits = text.find_first_not_of('0');
        FUZZ_CHECK(std::to_string(id) == (digits == std::string::npos ? "0" : text.substr(digits)));
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 404);
        FUZZ_CHECK(text.empty() || text.size() > 18 ||
                   text.find_first_not_of("0123456789") != std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const bool isBody = in.u8() % 2 == 0;
    const std::string text(reinterpret_cast<const char*>(in.rest()), in.remaining());
    if (isBody) {
        body(text);
    } else {
        run_id(text);
    }
    return 0;
}
