// Who may use the service: API tokens with their roles, and the audit log
// of everything done through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace doorlinkd {

// Each role may do what the roles before it may.
enum class Role { Viewer = 0, Operator = 1, Admin = 2 };
const char* role_name(Role role);  // "viewer", "operator", "admin"
std::optional<Role> role_from_name(const std::string& name);
inline bool role_allows(Role held, Role needed) { return static_cast<int>(held) >= static_cast<int>(needed); }

// A token as stored: only the SHA-256 of its text is kept.
struct TokenInfo {
    std::string name;  // 1 to 64 letters, digits, '-', '_', '.', '@'
    Role role = Role::Viewer;
    int64_t created = 0;             // ms since the epoch
    std::optional<int64_t> expires;  // ms since the epoch; none: never
};

// Who did something, for the audit: a token's name (or "cli", or
// "doorlinkd:<instance>" for what the service does on its own) and the
// address the request came from ("" when none).
struct Actor {
    std::string who;
    std::string address;
};

// One line of the audit log. result: "ok", or what went wrong (an HTTP
// status and its error, "refused: ...").
struct AuditEntry {
    int64_t id = 0;    // set by the store
    int64_t time = 0;  // ms since the epoch, set by the store
    std::string who;
    std::string address;
    std::string action;  // "POST /api/v1/controllers/door1/doors/0/open", "mqtt cmd/open", "clock set"
    std::string target;  // a controller, a card, a token name; "" when none
    std::string result;
    std::string detail;  // more, as text (a clock's skew, a command's id)
};

}  // namespace doorlinkd
