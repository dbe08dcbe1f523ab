// API tokens, kept by the SHA-256 of their text, and the audit log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/access.h"
#include "model/pages.h"

namespace doorlinkd {

class Database;
class Tx;

class AccessStore {
public:
    virtual ~AccessStore() = default;

    // Tokens, stored by the SHA-256 (hex) of their text. Refused when the
    // name is taken.
    virtual void add_token(const TokenInfo& token, const std::string& hash) = 0;
    virtual std::vector<TokenInfo> tokens() = 0;  // in name order
    // Removes it; false when there was none of that name.
    virtual bool revoke_token(const std::string& name) = 0;
    // The token with this hash unless it has expired (the database's clock).
    virtual std::optional<TokenInfo> token_by_hash(const std::string& hash) = 0;

    // The audit log: append sets id and time; entries newest first.
    virtual void audit(const AuditEntry& entry) = 0;
    virtual Page<AuditEntry> audit_entries(int offset, int limit) = 0;
};

class SqlAccess : public virtual AccessStore {
public:
    explicit SqlAccess(Database& database) : db_(database) {}

    void add_token(const TokenInfo& token, const std::string& hash) override;
    std::vector<TokenInfo> tokens() override;
    bool revoke_token(const std::string& name) override;
    std::optional<TokenInfo> token_by_hash(const std::string& hash) override;
    void audit(const AuditEntry& entry) override;
    Page<AuditEntry> audit_entries(int offset, int limit) override;

private:
    Database& db_;
};

// Appends an audit entry in another part's transaction (a command's answer).
void insert_audit(Tx& tx, const AuditEntry& entry);

}  // namespace doorlinkd
