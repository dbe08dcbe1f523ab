#include "store/access.h"

#include "store/database.h"

namespace doorlinkd {

namespace {

constexpr const char* kSelectToken = "SELECT name, role, created, expires FROM tokens";

TokenInfo token_of(const Row& row) {
    TokenInfo token;
    token.name = row.at(0).text();
    const auto role = role_from_name(row.at(1).text());
    if (!role) throw StoreError("the database holds an unknown role \"" + row.at(1).text() + "\"");
    token.role = *role;
    token.created = row.at(2).integer();
    if (!row.at(3).is_null()) token.expires = row.at(3).integer();
    return token;
}

}  // namespace

void SqlAccess::add_token(const TokenInfo& token, const std::string& hash) {
    db_.transaction(true, [&](Tx& tx) {
        const std::string taken = "a token named " + token.name + " exists already";
        if (tx.any("SELECT 1 FROM tokens WHERE name = ?", {token.name})) throw Refused(taken);
        // No creation time given: the database's clock.
        const std::optional<int64_t> created =
            token.created != 0 ? std::optional<int64_t>(token.created) : std::nullopt;
        try {
            tx.exec(
                "INSERT INTO tokens (name, role, hash, created, expires)"
                " VALUES (?, ?, ?, COALESCE(?, {now_ms}), ?)",
                {token.name, role_name(token.role), hash, created, token.expires});
        } catch (const DatabaseError& error) {
            // Another process added it in between.
            if (error.kind() != DatabaseError::Kind::Unique) throw;
            throw Refused(taken);
        }
        return 0;
    });
}

std::vector<TokenInfo> SqlAccess::tokens() {
    return db_.transaction(false, [](Tx& tx) {
        std::vector<TokenInfo> out;
        for (const Row& row : tx.rows(kSelectToken + std::string(" ORDER BY name")))
            out.push_back(token_of(row));
        return out;
    });
}

bool SqlAccess::revoke_token(const std::string& name) {
    return db_.transaction(
        true, [&](Tx& tx) { return tx.exec("DELETE FROM tokens WHERE name = ?", {name}).changes > 0; });
}

std::optional<TokenInfo> SqlAccess::token_by_hash(const std::string& hash) {
    return db_.transaction(false, [&](Tx& tx) -> std::optional<TokenInfo> {
        const auto rows = tx.rows(kSelectToken + std::string(" WHERE hash = ?"
                                                             " AND (expires IS NULL OR expires > {now_ms})"),
                                  {hash});
        if (rows.empty()) return std::nullopt;
        return token_of(rows.front());
    });
}

void SqlAccess::audit(const AuditEntry& entry) {
    db_.transaction(true, [&](Tx& tx) {
        insert_audit(tx, entry);
        return 0;
    });
}

Page<AuditEntry> SqlAccess::audit_entries(int offset, int limit) {
    return db_.transaction(false, [&](Tx& tx) {
        Page<AuditEntry> page;
        page.total = tx.rows("SELECT count(*) FROM audit").at(0).at(0).integer();
        std::vector<Value> params;
        for (const Row& row : tx.rows("SELECT id, time, who, address, action, target, result, detail"
                                      " FROM audit ORDER BY id DESC" +
                                          page_clause(offset, limit, params),
                                      params)) {
            page.items.push_back(AuditEntry{row.at(0).integer(), row.at(1).integer(), row.at(2).text(),
                                            row.at(3).text(), row.at(4).text(), row.at(5).text(),
                                            row.at(6).text(), row.at(7).text()});
        }
        return page;
    });
}

void insert_audit(Tx& tx, const AuditEntry& entry) {
    tx.exec(
        "INSERT INTO audit (time, who, address, action, target, result, detail)"
        " VALUES ({now_ms}, ?, ?, ?, ?, ?, ?)",
        {entry.who, entry.address, entry.action, entry.target, entry.result, entry.detail});
}

}  // namespace doorlinkd
