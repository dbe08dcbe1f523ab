#include "cardlists/list_files.h"

#include <cstdio>

#include "core/paths.h"
#include "platform/files.h"

namespace doorlink::cardlists {

std::string ListDirectory() { return core::module_path({"list"}); }

std::string EnsureListDirectory() {
    std::string directory = ListDirectory();
    platform::make_directory(directory);
    return directory;
}

std::string ListFilePath(int listNumber) {
    char name[48];
    std::snprintf(name, sizeof name, "doorname%03d.dat", listNumber);
    return core::join_path(ListDirectory(), name);
}

std::string PartFilePath(int listNumber, int group) {
    char name[48];
    std::snprintf(name, sizeof name, "doorname%03d%d.dat", listNumber, group);
    return core::join_path(ListDirectory(), name);
}

std::string ReadBackFilePath(int listNumber) {
    char name[48];
    std::snprintf(name, sizeof name, "ReCardInfo%03d.dat", listNumber);
    return core::join_path(ListDirectory(), name);
}

}  // namespace doorlink::cardlists
