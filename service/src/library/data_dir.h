// The library's data files under the service's data directory (the
// library's module directory), as the library names them.
#pragma once

#include <string>

namespace doorlinkd {

class DataDir {
public:
    explicit DataDir(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    std::string registry() const;                             // eqminfo.ini
    std::string list_file(int list) const;                    // list/doornameNNN.dat
    std::string read_back_file(int list) const;               // list/ReCardInfoNNN.dat
    std::string read_back_ini(int list) const;                // list/ReCardNNN.ini
    std::string record_directory() const;                     // cardinfo
    std::string photo_directory() const;                      // pic
    std::string controller_record_file(int number) const;     // mjNNN.txt
    std::string pushed_photo(const std::string& card) const;  // curpic/CARD.jpg
    std::string error_log(int number) const;                  // error/errorNNN.txt

private:
    std::string path_;
};

}  // namespace doorlinkd
