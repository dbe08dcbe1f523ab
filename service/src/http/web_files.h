// The web page's files, built into the program from service/web/ (see
// service/cmake/embed_files.cmake).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace doorlinkd {

struct WebFile {
    const char* name;  // its path under service/web/: "index.html", "app.js"
    const unsigned char* bytes;
    size_t size;
};

const std::vector<WebFile>& web_files();

}  // namespace doorlinkd
