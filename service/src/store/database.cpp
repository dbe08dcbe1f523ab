#include "store/database.h"

#include <algorithm>
#include <limits>

namespace doorlinkd {

namespace {

// Attempts of a transaction that the database ended for a deadlock or a
// serialisation failure.
constexpr int kAttempts = 5;

}  // namespace

void Database::backup(const std::string& file) {
    Pool::Lent connection(pool_, pool_.take());
    connection->backup_to(file);
}

bool Database::try_again(Pool::Lent& connection, const DatabaseError& error, bool begun, int attempt) {
    if (error.kind() == DatabaseError::Kind::Silent) {
        // Another attempt would wait as long again; so would those who wait
        // for a connection.
        pool_.found_silent();
        return false;
    }
    const bool lost = !begun && !connection->usable();
    if (lost) {
        connection.discard();
        pool_.drop_idle();
    }
    const bool again = lost || error.kind() == DatabaseError::Kind::Transient;
    return again && attempt < kAttempts;
}

void Database::roll_back(Pool::Lent& connection) {
    try {
        connection->rollback();
    } catch (const std::exception&) {
        connection.discard();
    }
}

std::string page_clause(int offset, int limit, std::vector<Value>& params) {
    params.emplace_back(limit > 0 ? int64_t{limit} : std::numeric_limits<int64_t>::max());
    params.emplace_back(int64_t{std::max(offset, 0)});
    return " LIMIT ? OFFSET ?";
}

void in_batches(
    const std::vector<Value>& values, const char* placeholder,
    const std::function<void(const std::vector<Value>& part, const std::string& placeholders)>& each) {
    for (size_t first = 0; first < values.size(); first += kBatchValues) {
        const size_t end = std::min(first + kBatchValues, values.size());
        const std::vector<Value> part(values.begin() + static_cast<std::ptrdiff_t>(first),
                                      values.begin() + static_cast<std::ptrdiff_t>(end));
        std::string placeholders;
        for (size_t i = 0; i < part.size(); ++i)
            placeholders += (i == 0 ? "" : ", ") + std::string(placeholder);
        each(part, placeholders);
    }
}

std::string like_escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '!' || c == '%' || c == '_') out += '!';
        out += c;
    }
    return out;
}

Value nullable(const std::optional<std::string>& text) { return text ? Value(*text) : Value(); }

std::optional<std::string> optional_text(const Value& value) {
    if (value.is_null()) return std::nullopt;
    return value.text();
}

Value blob_of(const std::optional<std::string>& text) {
    if (!text) return Value();
    return Value(Blob(text->begin(), text->end()));
}

std::optional<std::string> text_of_blob(const Value& value) {
    if (value.is_null()) return std::nullopt;
    const Blob& bytes = value.blob();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace doorlinkd
