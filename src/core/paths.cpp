#include "core/paths.h"

#include "core/library_state.h"
#include "platform/files.h"

namespace doorlink::core {

std::string join_path(std::string_view directory, std::string_view name) {
    std::string path(directory);
    path += platform::kPathSeparator;
    path += name;
    return path;
}

std::string module_path(std::initializer_list<std::string_view> parts) {
    std::string path = LibraryState::get().module_directory();
    for (std::string_view part : parts) path = join_path(path, part);
    return path;
}

std::string registry_path() { return module_path({"eqminfo.ini"}); }

}  // namespace doorlink::core
