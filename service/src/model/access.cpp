#include "model/access.h"

namespace doorlinkd {

const char* role_name(Role role) {
    switch (role) {
        case Role::Viewer: return "viewer";
        case Role::Operator: return "operator";
        case Role::Admin: return "admin";
    }
    return "viewer";
}

std::optional<Role> role_from_name(const std::string& name) {
    for (Role role : {Role::Viewer, Role::Operator, Role::Admin}) {
        if (name == role_name(role)) return role;
    }
    return std::nullopt;
}

}  // namespace doorlinkd
