// Where the card list files live: the list directory under the module
// directory, the list file and part files of a list number, and the
// read-back card file.
#pragma once

#include <cstdint>
#include <string>

namespace doorlink::cardlists {

// "list" under the module directory, created if missing; its path.
std::string EnsureListDirectory();
std::string ListDirectory();

// "doorname%03d.dat", "doorname%03d%d.dat" (group), "ReCardInfo%03d.dat".
std::string ListFilePath(int listNumber);
std::string PartFilePath(int listNumber, int group);
std::string ReadBackFilePath(int listNumber);

}  // namespace doorlink::cardlists
