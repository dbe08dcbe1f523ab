// The CSV text format (RFC 4180): commas between fields, fields that hold a
// comma, a quote or a line break in double quotes, "" for a quote inside.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace doorlinkd {

struct CsvRow {
    int line = 0;  // the physical line the row starts on, from 1
    std::vector<std::string> fields;
    std::string error;           // why the row is not well-formed CSV; empty when it is
    std::size_t errorField = 0;  // the field the error is in
};

// Reads rows one after another; CRLF and LF end lines, blank lines are
// skipped, a final line end may be missing.
class CsvReader {
public:
    explicit CsvReader(std::string_view text) : text_(text) {}
    // The next row into row (its vectors are reused); false at the end.
    bool next(CsvRow& row);

private:
    bool at_line_end() const;
    void skip_line_end();
    void read_quoted(CsvRow& row, std::string& field);
    void read_plain(std::string& field);

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

// Appends a field, quoted only when it has to be.
void append_csv_field(std::string& out, std::string_view field);

}  // namespace doorlinkd
