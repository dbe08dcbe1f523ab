#include "store/connection.h"

#include <cstdlib>

#include "common/percent_decoding.h"

namespace doorlinkd {
namespace {

[[noreturn]] void wrong_kind(const char* wanted) {
    throw StoreError(std::string("the database returned a value that is not ") + wanted);
}

// A password's place in a location: [begin, end) of the text.
struct Span {
    size_t begin;
    size_t end;
};

// Where the passwords of a libpq URI are: after the user in the user
// information, and the values of password parameters.
std::vector<Span> secret_spans(const std::string& uri) {
    std::vector<Span> spans;
    const size_t scheme = uri.find("://");
    if (scheme == std::string::npos) return spans;
    const size_t authority = scheme + 3;
    const size_t authorityEnd = uri.find_first_of("/?", authority);
    const size_t hostEnd = authorityEnd == std::string::npos ? uri.size() : authorityEnd;
    const size_t at = uri.rfind('@', hostEnd);
    if (at != std::string::npos && at >= authority) {
        const size_t colon = uri.find(':', authority);
        if (colon != std::string::npos && colon < at && colon + 1 < at) spans.push_back({colon + 1, at});
    }
    const size_t query = uri.find('?', authority);
    if (query != std::string::npos) {
        size_t p = query + 1;
        while (p < uri.size()) {
            size_t end = uri.find('&', p);
            if (end == std::string::npos) end = uri.size();
            static const std::string kKey = "password=";
            if (uri.compare(p, kKey.size(), kKey) == 0 && p + kKey.size() < end) {
                spans.push_back({p + kKey.size(), end});
            }
            p = end + 1;
        }
    }
    return spans;
}

}  // namespace

int64_t Value::integer() const {
    if (const auto* v = std::get_if<int64_t>(&v_)) return *v;
    wrong_kind("an integer");
}

const std::string& Value::text() const {
    if (const auto* v = std::get_if<std::string>(&v_)) return *v;
    wrong_kind("a text");
}

const Blob& Value::blob() const {
    if (const auto* v = std::get_if<Blob>(&v_)) return *v;
    wrong_kind("a blob");
}

std::string Dialect::expand(const std::string& sql) const {
    std::string out;
    out.reserve(sql.size() + 32);
    size_t p = 0;
    while (p < sql.size()) {
        const size_t open = sql.find('{', p);
        if (open == std::string::npos) break;
        const size_t close = sql.find('}', open);
        if (close == std::string::npos) break;
        out.append(sql, p, open - p);
        const std::string token = sql.substr(open + 1, close - open - 1);
        if (token == "text") {
            out += text;
        } else if (token == "blob") {
            out += blob;
        } else if (token == "id") {
            out += id;
        } else if (token == "now_ms") {
            out += nowMs;
        } else if (token == "text_agg") {
            out += textAgg;
        } else if (token == "for_key_share") {
            out += forKeyShare;
        } else if (token == "for_update") {
            out += forUpdate;
        } else {
            out.append(sql, open, close - open + 1);
        }
        p = close + 1;
    }
    out.append(sql, p, std::string::npos);
    return out;
}

std::string redact_location(const std::string& location) {
    std::string out = location;
    const std::vector<Span> spans = secret_spans(location);
    for (auto it = spans.rbegin(); it != spans.rend(); ++it)
        out.replace(it->begin, it->end - it->begin, "***");
    return out;
}

std::vector<std::string> location_secrets(const std::string& location) {
    std::vector<std::string> secrets;
    for (const Span& span : secret_spans(location)) {
        const std::string raw = location.substr(span.begin, span.end - span.begin);
        secrets.push_back(raw);
        const std::string decoded = percent_decoded(raw);
        if (!decoded.empty() && decoded != raw) secrets.push_back(decoded);
    }
    return secrets;
}

Result Connection::execute(const std::string& sql, const std::vector<Value>& params) {
    Result result;
    result.changes = execute_each(sql, params, [&](Row&& row) { result.rows.push_back(std::move(row)); });
    return result;
}

Connector connector(const std::string& location) {
    static const std::string kSqlite = "sqlite:";
    if (location.compare(0, kSqlite.size(), kSqlite) == 0) {
        const std::string path = location.substr(kSqlite.size());
        if (path.empty()) throw Refused("the database location sqlite: names no file (sqlite:PATH)");
        auto database = sqlite_database(path);
        return [database] { return connect_sqlite(database); };
    }
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) {
        return [location] { return connect_postgres(location); };
    }
    throw Refused("the database location \"" + redact_location(location) +
                  "\" is neither sqlite:PATH nor a PostgreSQL URI (postgresql://...)");
}

}  // namespace doorlinkd
