#include "http/web_routes.h"

#include "http/web_files.h"

namespace doorlinkd {
namespace {

// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization): constant text
const std::string kStatic = "/static/";

}  // namespace

void serve_web_file(const WebFile& file, HttpResponse& response) {
    // The files change with the program: asked again each time, cheaply.
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char*>(file.bytes), file.size, web_content_type(file.name));
}

std::string web_content_type(const std::string& name) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".json", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".woff2", "font/woff2"},
    };
    for (const auto& [extension, type] : kTypes) {
        const std::string ext = extension;
        if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
            return type;
    }
    return "application/octet-stream";
}

const WebFile* web_file_at(const std::string& path) {
    for (const WebFile& file : web_files()) {
        if (path == kStatic + file.name || (path == "/" && std::string(file.name) == "index.html"))
            return &file;
    }
    return nullptr;
}

bool is_web_path(const std::string& path) { return web_file_at(path) != nullptr; }

}  // namespace doorlinkd
