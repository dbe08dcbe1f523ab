#include "cards/csv_text.h"

namespace doorlinkd {

bool CsvReader::at_line_end() const { return text_[pos_] == '\n' || text_[pos_] == '\r'; }

void CsvReader::skip_line_end() {
    if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
    ++pos_;
    ++line_;
}

bool CsvReader::next(CsvRow& row) {
    while (pos_ < text_.size() && at_line_end()) skip_line_end();
    if (pos_ >= text_.size()) return false;
    row.line = line_;
    row.error.clear();
    row.errorField = 0;
    std::size_t count = 0;
    for (;;) {
        if (row.fields.size() <= count) row.fields.emplace_back();
        std::string& field = row.fields[count++];
        field.clear();
        if (text_[pos_] == '"') {
            read_quoted(row, field);
        } else {
            read_plain(field);
        }
        if (!row.error.empty()) {
            row.errorField = count - 1;
            // The rest of the line is no use once the quoting is broken.
            while (pos_ < text_.size() && !at_line_end()) ++pos_;
        }
        if (pos_ >= text_.size()) break;
        if (at_line_end()) {
            skip_line_end();
            break;
        }
        ++pos_;                      // the comma
        if (pos_ >= text_.size()) {  // a final empty field
            if (row.fields.size() <= count) row.fields.emplace_back();
            row.fields[count++].clear();
            break;
        }
    }
    row.fields.resize(count);
    return true;
}

void CsvReader::read_quoted(CsvRow& row, std::string& field) {
    ++pos_;  // the opening quote
    for (;;) {
        const std::size_t quote = text_.find('"', pos_);
        const std::size_t end = quote == std::string_view::npos ? text_.size() : quote;
        for (std::size_t i = pos_; i < end; ++i) {
            if (text_[i] == '\n' || (text_[i] == '\r' && (i + 1 == end || text_[i + 1] != '\n'))) ++line_;
        }
        field.append(text_, pos_, end - pos_);
        if (quote == std::string_view::npos) {
            pos_ = text_.size();
            row.error = "a quoted field is not closed";
            return;
        }
        pos_ = quote + 1;
        if (pos_ < text_.size() && text_[pos_] == '"') {
            field += '"';
            ++pos_;
            continue;
        }
        if (pos_ < text_.size() && text_[pos_] != ',' && !at_line_end()) {
            row.error = "text after the closing quote of a field";
        }
        return;
    }
}

void CsvReader::read_plain(std::string& field) {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && !at_line_end()) ++pos_;
    field.assign(text_, start, pos_ - start);
}

void append_csv_field(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace doorlinkd
