# Writes a C++ source that holds every file under DIR as bytes, for the
# program to serve without reading any file at run time:
#   cmake -DDIR=<directory> -DOUT=<file.cpp> -P embed_files.cmake
# The files are named by their paths under DIR, with '/' between parts.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${DIR} ${DIR}/*)
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS files)
    if(name MATCHES "(^|/)\\.")
        continue()  # hidden files: an editor's, not the page's
    endif()
    file(READ ${DIR}/${name} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # A trailing zero keeps the array of an empty file from being empty.
    string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}0};\n")
    string(APPEND entries "        {\"${name}\", kFile${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}
"// Made by service/cmake/embed_files.cmake from service/web/: not to be edited.
#include \"http/web_files.h\"

namespace doorlinkd {
namespace {

${arrays}
}  // namespace

const std::vector<WebFile>& web_files() {
    static const std::vector<WebFile> files = {
${entries}    };
    return files;
}

}  // namespace doorlinkd
")
