// Data file paths under the module directory, joined with the platform's
// separator.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace doorlink::core {

std::string join_path(std::string_view directory, std::string_view name);

// The module directory followed by each part in turn.
std::string module_path(std::initializer_list<std::string_view> parts);

// "%s\eqminfo.ini" of the module directory.
std::string registry_path();

}  // namespace doorlink::core
