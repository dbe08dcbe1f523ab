// The controllers' requests: POST /api/v1/controllers with its JSON body
// (json_body, controller_of_body), and the path parts of a door opened and
// a clock set, /api/v1/controllers/{name}/doors/{door}/open and
// /api/v1/controllers/{name}/time (controller_path_name, door_path_number).
//   selector byte (even: a body; odd: the path's name and door, a length
//   byte each), then the body.
// Only HttpError leaves the readers: 404 for a name not of a controller's
// form, 400 for the rest. What is accepted is what the body or the path
// said.
#include <string>

#include "http/request_forms.h"
#include "model/controller.h"
#include "support/fuzz_input.h"
#include "support/service_scratch.h"

using namespace doorlinkd;

namespace {

void body(const std::string& text) {
    Json json;
    ControllerAddArgs args;
    try {
        json = json_body(text);
        args = controller_of_body(json);
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400 || e.status() == 413);
        return;
    }
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        FUZZ_CHECK(key == "name" || key == "address" || key == "mac" || key == "number" || key == "long" ||
                   key == "photos");
    }
    FUZZ_CHECK(json.at("name") == args.name && json.at("address") == args.address &&
               json.at("mac") == args.mac);
    const auto number = json.find("number");
    if (number == json.end() || number->is_null()) {
        FUZZ_CHECK(!args.number);
    } else {
        FUZZ_CHECK(args.number && *args.number >= 0 && *args.number <= 999 && *number == *args.number);
    }
    const auto longRecords = json.find("long");
    FUZZ_CHECK(args.longRecords == (longRecords != json.end() && *longRecords == true));
    const auto photos = json.find("photos");
    FUZZ_CHECK(args.noPhotos == (photos != json.end() && *photos == false));
}

void path(const std::string& name, const std::string& door) {
    try {
        FUZZ_CHECK(controller_path_name(name) == name && is_controller_name(name));
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 404 && !is_controller_name(name));
    }
    try {
        const int number = door_path_number(door);
        FUZZ_CHECK(number >= 0 && number <= 3 && std::to_string(number) == door);
    } catch (const HttpError& e) {
        FUZZ_CHECK(e.status() == 400 && door != "0" && door != "1" && door != "2" && door != "3");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    doorlink::fuzz::FuzzInput in(data, size);
    if (in.u8() % 2 == 0) {
        body(std::string(reinterpret_cast<const char*>(in.rest()), in.remaining()));
    } else {
        const std::string name = in.text();
        path(name, in.text());
    }
    return 0;
}
