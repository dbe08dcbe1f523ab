// A request's target as the server takes it apart (split_target: the
// path decoded, the query parsed into the request's parameters); then the
// service's readers of those parameters as its handlers call them (paging,
// query_number, query_text, query_flag, and event_id_number for the
// stream's after=).
//   the whole input is the request target.
// Each reader gives its default, a value in its bounds or HttpError 400;
// a page's and a stream's after= take the same ids.
#include <cstdint>
#include <string>

#include "common/utf8.h"
#include "http/api_call.h"
#include "model/controller.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

// What a reader gives, or the status it refused with.
template <typename F>
auto reading(F read, int& status) -> decltype(read()) {
    status = 0;
    try {
        return read();
    } catch (const HttpError& e) {
        status = e.status();
        FUZZ_CHECK(status == 400);
    }
    return {};
}

void check_readers(const Call& call) {
    int status = 0;
    const Paging page = reading([&] { return paging(call); }, status);
    if (status == 0) {
        FUZZ_CHECK(page.offset >= 0 && page.offset <= 1000000000 && page.limit >= 1 &&
                   page.limit <= kMaxPage);
        if (!call.request.has_param("offset")) FUZZ_CHECK(page.offset == 0);
        if (!call.request.has_param("limit")) FUZZ_CHECK(page.limit == 50);
    } else {
        FUZZ_CHECK(call.request.has_param("offset") || call.request.has_param("limit"));
    }

    const std::string search = reading([&] { return query_text(call, "search"); }, status);
    if (status == 0) {
        FUZZ_CHECK(search.size() <= 100 && is_printable_utf8(search));
        FUZZ_CHECK(search == call.request.get_param_value("search"));
    }

    const bool replace = reading([&] { return query_flag(call, "replace"); }, status);
    if (status == 0 && replace) {
        const std::string value = call.request.get_param_value("replace");
        FUZZ_CHECK(value == "true" || value == "1");
    }

    // The controller filter of events and records.
    const std::string controller = reading([&] { return query_text(call, "controller"); }, status);
    if (status == 0 && !controller.empty()) {
        reading([&] { return checked_controller_name(controller); }, status);
        FUZZ_CHECK((status == 0) == is_controller_name(controller));
    }

    // A page of events after an id, and a stream after one.
    const int64_t after = reading([&] { return query_number(call, "after", 0, 0, INT64_MAX / 2); }, status);
    const int pageStatus = status;
    if (call.request.has_param("after")) {
        const std::string text = call.request.get_param_value("after");
        const int64_t streamAfter = reading([&] { return event_id_number(text, "after"); }, status);
        FUZZ_CHECK(status == pageStatus);
        FUZZ_CHECK(status != 0 || (after == streamAfter && after >= 0));
    } else {
        FUZZ_CHECK(pageStatus == 0 && after == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string target(reinterpret_cast<const char*>(data), size);
    // The request line is split at spaces and read as a C string up to its
    // line end: no target holds these.
    if (target.find_first_of(std::string(" \r\n\0", 4)) != std::string::npos) return 0;

    HttpRequest request;
    HttpResponse response;
    request.target = target;
    split_target(target, request.path, request.params);
    FUZZ_CHECK(request.path.size() <= target.size());
    for (const auto& [name, value] : request.params) FUZZ_CHECK(name.size() + value.size() <= target.size());

    const Call call(request, response);
    check_readers(call);
    return 0;
}
