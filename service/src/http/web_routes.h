// The web page: index.html at / and every file at /static/<name>, from the
// files built into the program; no token is needed for them (the page asks
// for one and sends it to the API).
#pragma once

#include <string>

#include "http/http_message.h"
#include "http/web_files.h"

namespace doorlinkd {

// The page's file at the path (GET), or none.
const WebFile* web_file_at(const std::string& path);
void serve_web_file(const WebFile& file, HttpResponse& response);

// Whether the path is one of the page's (GET only).
bool is_web_path(const std::string& path);

// The Content-Type of a file, by its extension.
std::string web_content_type(const std::string& name);

}  // namespace doorlinkd
