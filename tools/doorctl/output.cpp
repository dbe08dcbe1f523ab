#include "output.h"

#include <cstdio>
#include <iostream>

namespace doorctl {
namespace {

bool g_json = false;
Collector* g_collector = nullptr;

// A field through a printf conversion such as "%.2f", "%02x" or "%-17s".
std::string formatted(const Json& value, const std::string& spec) {
    if (spec.empty() || spec.front() != '%') return "";
    char out[256];
    const char conversion = spec.back();
    const std::string head = spec.substr(0, spec.size() - 1);
    if (value.is_number_float()) {
        std::snprintf(out, sizeof out, spec.c_str(), value.get<double>());
    } else if (value.is_number() && (conversion == 'd' || conversion == 'i')) {
        std::snprintf(out, sizeof out, (head + "ll" + conversion).c_str(), value.get<long long>());
    } else if (value.is_number() && std::string("uxXo").find(conversion) != std::string::npos) {
        std::snprintf(out, sizeof out, (head + "ll" + conversion).c_str(), value.get<unsigned long long>());
    } else if (conversion == 's') {
        const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
        std::snprintf(out, sizeof out, spec.c_str(), text.c_str());
    } else {
        return value.dump();
    }
    return out;
}

std::string plain(const Json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) return value.get<std::string>();
    return value.dump();
}

// Puts the fields into a template's "{name}" and "{name:spec}" places.
std::string render(const std::string& text, const Json& fields) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('{', at);
        const size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        const std::string place = text.substr(open + 1, close - open - 1);
        const size_t colon = place.find(':');
        const std::string name = place.substr(0, colon);
        const Json value = fields.is_object() && fields.contains(name) ? fields[name] : Json();
        out += colon == std::string::npos ? plain(value) : formatted(value, place.substr(colon + 1));
        at = close + 1;
    }
    return out;
}

}  // namespace

const char* const kExitCodeHelp =
    "Exit status: 0 success; 1 the controller (or card reader) did not answer or confirm;\n"
    "2 usage error (arguments refused); 3 local file error (missing, unreadable or unwritable).\n"
    "With --json every command prints one JSON object on standard output (monitor: one per\n"
    "event, on a line each); a failure prints {\"error\": ...} and exits with its status.";

Result Result::failure(ExitCode code, const std::string& reason) { return Result().fail(code, reason); }

Result& Result::fail(ExitCode code, const std::string& reason) {
    status_ = code;
    Json fields = {{"error", reason}};
    for (auto& [key, value] : fields_.items()) {
        if (key != "error") fields[key] = value;
    }
    fields_.swap(fields);
    return *this;
}

Result& Result::line(std::string text) {
    lines_.push_back({"", std::move(text)});
    return *this;
}

Result& Result::each(std::string key, std::string text) {
    lines_.push_back({std::move(key), std::move(text)});
    return *this;
}

std::string Result::text() const {
    std::string out;
    for (const Line& l : lines_) {
        if (l.array.empty()) {
            out += render(l.text, fields_) + '\n';
        } else if (fields_.contains(l.array)) {
            for (const Json& element : fields_[l.array]) out += render(l.text, element) + '\n';
        }
    }
    return out;
}

bool json_output() { return g_json; }
void set_json_output(bool on) { g_json = on; }

int& exit_status() {
    static int status = kSuccess;
    return status;
}

bool emit(const Result& result) {
    if (!result.ok()) exit_status() = result.status();
    if (g_collector && g_json) {
        g_collector->add(result.fields());
        return result.ok();
    }
    if (g_json) {
        std::cout << result.fields().dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
        return result.ok();
    }
    std::cout << result.text() << std::flush;
    if (!result.ok()) std::cerr << "doorctl: " << plain(result.fields()["error"]) << std::endl;
    return result.ok();
}

std::string hex_bytes(const uint8_t* bytes, size_t count) {
    std::string out;
    char pair[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02x" : "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

void note(const std::string& text) {
    if (!g_json) std::cout << text << std::flush;
}

Collector::Collector() : previous_(g_collector) { g_collector = this; }
Collector::~Collector() { g_collector = previous_; }

Json Collector::take() {
    Json out = Json::array();
    out.swap(results_);
    return out;
}

}  // namespace doorctl
