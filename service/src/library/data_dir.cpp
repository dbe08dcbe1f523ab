#include "library/data_dir.h"

#include <cstdio>

namespace doorlinkd {
namespace {

std::string numbered(const char* format, int number) {
    char name[64];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

}  // namespace

std::string DataDir::registry() const { return path_ + "/eqminfo.ini"; }
std::string DataDir::list_file(int list) const {
    return path_ + "/list/" + numbered("doorname%03d.dat", list);
}
std::string DataDir::read_back_file(int list) const {
    return path_ + "/list/" + numbered("ReCardInfo%03d.dat", list);
}
std::string DataDir::read_back_ini(int list) const {
    return path_ + "/list/" + numbered("ReCard%03d.ini", list);
}
std::string DataDir::record_directory() const { return path_ + "/cardinfo"; }
std::string DataDir::photo_directory() const { return path_ + "/pic"; }
std::string DataDir::controller_record_file(int number) const {
    return path_ + "/" + numbered("mj%03d.txt", number);
}
std::string DataDir::pushed_photo(const std::string& card) const {
    return path_ + "/curpic/" + card + ".jpg";
}
std::string DataDir::error_log(int number) const {
    return path_ + "/error/" + numbered("error%03d.txt", number);
}

}  // namespace doorlinkd
