// The policy's requests: the JSON bodies of people, schedules, groups and
// holidays added (POST) and changed (PUT, on the path's name), and DELETE's
// ?revision= (json_body, person_of_body, schedule_of_body, group_of_body,
// holiday_of_body, holiday_change_of_body, revision_of_query).
//   selector byte (its value mod 9 picks the reader), then the body (or the
//   query's text).
// Only HttpError leaves the readers, 400 (413 past the size): what is
// accepted names the path's value when changed, always with a revision, and
// holds what the body said.
#include <string>

#include "http/policy_forms.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

const std::string kPathName = "door1";

bool given(const Json& json, const char* key) { return json.contains(key) && !json.at(key).is_null(); }

void person(const Json& json, bool change) {
    const PersonArgs args = person_of_body(json, kPathName, change);
    FUZZ_CHECK(change ? args.id == kPathName && args.revision && *args.revision >= 0
                      : args.id == json.at("id") && !args.revision && given(json, "name"));
    FUZZ_CHECK(args.cardList.has_value() == given(json, "cards"));
    if (args.cardList) {
        FUZZ_CHECK(args.cardList->size() == json.at("cards").size());
        for (size_t i = 0; i < args.cardList->size(); ++i) {
            const Json& card = json.at("cards").at(i);
            FUZZ_CHECK(card.at("card") == args.cardList->at(i).card);
            FUZZ_CHECK(args.cardList->at(i).pin.has_value() == given(card, "pin"));
        }
    }
    if (args.groups) FUZZ_CHECK(split_words(*args.groups).size() == json.at("groups").size());
}

void schedule(const Json& json, bool change) {
    const ScheduleArgs args = schedule_of_body(json, kPathName, change);
    FUZZ_CHECK(change ? args.name == kPathName && args.revision : args.name == json.at("name"));
    for (const auto& day : args.days) FUZZ_CHECK(day.has_value() == given(json, "days"));
}

void group(const Json& json, bool change) {
    const GroupArgs args = group_of_body(json, kPathName, change);
    FUZZ_CHECK(change ? args.name == kPathName && args.revision : args.name == json.at("name"));
    FUZZ_CHECK(args.grants.has_value() == given(json, "grants"));
    if (args.grants) FUZZ_CHECK(args.grants->size() == json.at("grants").size());
}

void holiday(const Json& json, bool change) {
    const HolidayArgs args =
        change ? holiday_change_of_body(json, kPathName, "2026-12-25") : holiday_of_body(json);
    FUZZ_CHECK(change ? args.site == kPathName && args.revision : args.site == json.at("site"));
    FUZZ_CHECK(args.yearly.has_value() == given(json, "yearly"));
}

void body(int reader, const std::string& text) {
    try {
        const Json json = json_body(text);
        switch (reader) {
            case 0: person(json, false); break;
            case 1: person(json, true); break;
            case 2: schedule(json, false); break;
            case 3: schedule(json, true); break;
            case 4: group(json, false); break;
            case 5: group(json, true); break;
            case 6: holiday(json, false); break;
            default: holiday(json, true); break;
        }
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400 || e.status() == 413);
    }
}

void revision(const std::string& text) {
    try {
        const int64_t number = revision_of_query(true, text);
        FUZZ_CHECK(number >= 0 && !text.empty() && text.find_first_not_of("0123456789") == std::string::npos);
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    const int reader = in.u8() % 9;
    const std::string text(reinterpret_cast<const char*>(in.rest()), in.remaining());
    if (reader == 8) {
        revision(text);
    } else {
        body(reader, text);
    }
    return 0;
}
