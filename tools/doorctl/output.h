// What a subcommand produces and how it reaches the user: every command
// builds one Result, and emit() prints it either as the text a person reads
// or, with --json, as one JSON object on a line of its own.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace doorctl {

using Json = nlohmann::ordered_json;

// doorctl's exit status.
enum ExitCode : int {
    kSuccess = 0,
    kNotConfirmed = 1,  // the controller (or card reader) did not answer or confirm
    kUsageError = 2,    // the arguments were refused, by the parser or by the command
    kFileError = 3,     // a local file is missing or cannot be read or written
};

// The exit codes as the help footer and the README list them.
extern const char* const kExitCodeHelp;

// One command's outcome: its fields (the JSON object) and its text lines,
// templates over those fields: "{name}" puts in a field, "{name:%.2f}" puts
// it in through that printf conversion (no length modifier), "%-17s" pads.
class Result {
public:
    // A failure: "error" holds the reason; the text form prints it to
    // standard error as "doorctl: <reason>".
    static Result failure(ExitCode code, const std::string& reason);

    // Turns this result into a failure, keeping its fields and lines.
    Result& fail(ExitCode code, const std::string& reason);

    template <class T>
    Result& set(const std::string& key, T&& value) {
        fields_[key] = std::forward<T>(value);
        return *this;
    }
    // A text line rendered from the fields.
    Result& line(std::string text);
    // A text line for each element of the array field `key`, rendered from
    // that element's fields.
    Result& each(std::string key, std::string text);

    ExitCode status() const { return status_; }
    bool ok() const { return status_ == kSuccess; }
    const Json& fields() const { return fields_; }
    // The text lines, each ending in a newline.
    std::string text() const;

private:
    struct Line {
        std::string array;  // empty: rendered once from the fields
        std::string text;
    };
    ExitCode status_ = kSuccess;
    Json fields_ = Json::object();
    std::vector<Line> lines_;
};

// Whether results are printed as JSON (--json).
bool json_output();
void set_json_output(bool on);

// Prints a result and makes a failure the exit status of the run; returns
// whether it was a success.
bool emit(const Result& result);

// Progress and commentary for a person: printed as given in text mode,
// dropped with --json.
void note(const std::string& text);

// With --json, collects every result emitted while it lives instead of
// printing it (the demo reports its steps as one object).
class Collector {
public:
    Collector();
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;
    void add(const Json& fields) { results_.push_back(fields); }
    // The results collected since the last take(), as a JSON array.
    Json take();

private:
    Json results_ = Json::array();
    Collector* previous_;
};

// Bytes as lower-case hexadecimal pairs separated by spaces.
std::string hex_bytes(const uint8_t* bytes, size_t count);

// The exit status of the run: 0, or the status of the last failure emitted.
int& exit_status();

}  // namespace doorctl
