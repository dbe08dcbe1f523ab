// What the two record retrievals share: the card text, record lines, the
// record directory with its two record files, and the progress keys.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/clock.h"

namespace doorlink::records {

// The end marker with which a controller says it holds no more records.
constexpr uint8_t kEndMarker[5] = {0x46, 0x64, 0x74, 0x84, 0x22};

// A line write that keeps failing is given up after this many attempts.
constexpr int kLineWriteAttempts = 3;

// "%03ld%05ld" of the site byte and the 16-bit card number: eight digits.
std::string CardText(uint32_t site, uint32_t card);

// The year byte completed with the century of the given local time.
int FourDigitYear(uint32_t yearByte, const platform::LocalTime& now);

// A record's time, its year already four digits.
struct RecordTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "card,yyyymmddhhmmss,NNN,kind" (no newline).
std::string RecordLine(const std::string& cardText, const RecordTime& t, int controller, int kind);

// The record directory, the controller record file "mjNNN.txt" (appended to)
// and the retrieval record file named after the start of the call, a new
// file of its own.
class RecordFiles {
public:
    RecordFiles() = default;
    ~RecordFiles() { close(); }
    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;

    // Creates the record directory and opens both files; false (with both
    // closed) when either cannot be opened.
    bool open(int controller, const platform::LocalTime& start);
    void close();

    enum class Order { RetrievalFirst, ControllerFirst };
    // Writes line and a newline to both files in the given order and flushes
    // them; false when a write still fails after kLineWriteAttempts tries.
    bool write_line(const std::string& line, Order order);

    const std::string& retrieval_path() const { return retrievalPath_; }
    const std::string& controller_path() const { return controllerPath_; }

private:
    std::FILE* controllerFile_ = nullptr;
    std::FILE* retrievalFile_ = nullptr;
    std::string controllerPath_;
    std::string retrievalPath_;
};

// Appends line and a newline; false after kLineWriteAttempts failures.
bool WriteLineWithRetry(std::FILE* file, const std::string& line);

// Opens for appending, falling back to "w"; null when neither works.
std::FILE* OpenForAppend(const std::string& path);

// The image progress keys "TotalImg%d" and "CurrentImg%d" of a controller.
void WriteTotalImages(int controller, long value);
void WriteCurrentImage(int controller, long value);

}  // namespace doorlink::records
