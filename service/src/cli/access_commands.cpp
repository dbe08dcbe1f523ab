// init, the tokens and backup: what sets the service up and keeps it.
#include "access/tokens.h"
#include "cli/commands.h"

namespace doorlinkd {
namespace {

constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
const char* const kShownOnce = "it is shown only once: keep it now";

// Makes a token, stores its hash and returns its text.
std::string make_token(Store& store, const TokenInfo& token) {
    std::string text = new_token();
    store.add_token(token, token_hash(text));
    audit_cli_write(store, "token add", token.name);
    return text;
}

Json time_or_null(const std::optional<int64_t>& ms) { return ms ? Json(iso_time(*ms)) : Json(nullptr); }

}  // namespace

void audit_cli_write(Store& store, const std::string& action, const std::string& target,
                     const std::string& detail) {
    AuditEntry entry;
    entry.who = "cli";
    entry.action = action;
    entry.target = target;
    entry.detail = detail;
    entry.result = "ok";
    store.audit(entry);
}

Outcome init_command(Store& store, const std::string& defaultZone) {
    const int version = store.initialise(defaultZone);
    Outcome outcome;
    outcome.json["schema_version"] = version;
    outcome.lines.push_back("the database's schema is at version " + std::to_string(version));
    for (const TokenInfo& token : store.tokens()) {
        if (token.role == Role::Admin) return outcome;
    }
    TokenInfo admin;
    admin.name = "admin";
    admin.role = Role::Admin;
    std::string text;
    try {
        text = make_token(store, admin);
    } catch (const Refused&) {
        // Another init made it in between, or a token of another role has
        // the name: no new token.
        return outcome;
    }
    outcome.json["admin_token"] = text;
    outcome.lines.push_back("admin token (role admin; " + std::string(kShownOnce) + "):");
    outcome.lines.push_back(text);
    return outcome;
}

Outcome token_add(Store& store, const TokenAddArgs& args) {
    if (!is_token_name(args.name)) {
        throw Refused("token name \"" + args.name + "\": 1 to 64 letters, digits, '-', '_', '.', '@'");
    }
    const std::optional<Role> role = role_from_name(args.role);
    if (!role) throw Refused("role \"" + args.role + "\": viewer, operator or admin");
    TokenInfo token;
    token.name = args.name;
    token.role = *role;
    if (args.expiresDays) token.expires = store.now_ms() + *args.expiresDays * kDayMs;
    const std::string text = make_token(store, token);
    Outcome outcome;
    outcome.json = Json{{"name", token.name}, {"role", role_name(token.role)}, {"token", text}};
    outcome.lines.push_back("token " + token.name + " (role " + role_name(token.role) + "; " + kShownOnce +
                            "):");
    outcome.lines.push_back(text);
    return outcome;
}

Outcome token_list(Store& store) {
    Outcome outcome;
    Json list = Json::array();
    for (const TokenInfo& token : store.tokens()) {
        list.push_back(Json{{"name", token.name},
                            {"role", role_name(token.role)},
                            {"created", iso_time(token.created)},
                            {"expires", time_or_null(token.expires)}});
        outcome.lines.push_back(token.name + "  " + role_name(token.role) + "  created " +
                                iso_time(token.created) + "  expires " +
                                (token.expires ? iso_time(*token.expires) : "never"));
    }
    outcome.json["tokens"] = list;
    return outcome;
}

Outcome token_revoke(Store& store, const std::string& name) {
    if (!store.revoke_token(name)) throw NotFound("no token named " + name);
    audit_cli_write(store, "token revoke", name);
    Outcome outcome;
    outcome.json["revoked"] = name;
    outcome.lines.push_back("token " + name + " revoked");
    return outcome;
}

Outcome backup_command(Store& store, const std::string& file) {
    store.backup(file);
    Outcome outcome;
    outcome.json["backup"] = file;
    outcome.lines.push_back("the database is copied to " + file);
    return outcome;
}

}  // namespace doorlinkd
