#include "records/record_files.h"

#include "core/paths.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace doorlink::records {

std::string CardText(uint32_t site, uint32_t card) {
    char text[32];
    std::snprintf(text, sizeof text, "%03ld%05ld", static_cast<long>(site & 0xFF),
                  static_cast<long>(card & 0xFFFF));
    return text;
}

int FourDigitYear(uint32_t yearByte, const platform::LocalTime& now) {
    return now.year / 100 * 100 + static_cast<int>(yearByte);
}

std::string RecordLine(const std::string& cardText, const RecordTime& t, int controller, int kind) {
    char line[96];
    std::snprintf(line, sizeof line, "%s,%04d%02d%02d%02d%02d%02d,%03d,%d", cardText.c_str(), t.year, t.month,
                  t.day, t.hour, t.minute, t.second, controller, kind);
    return line;
}

std::FILE* OpenForAppend(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) f = std::fopen(path.c_str(), "w");
    return f;
}

bool WriteLineWithRetry(std::FILE* file, const std::string& line) {
    const std::string text = line + "\n";
    for (int attempt = 0; attempt < kLineWriteAttempts; ++attempt) {
        if (std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0) {
            return true;
        }
        std::clearerr(file);
    }
    return false;
}

namespace {

// Names a retrieval record file may take before the retrieval gives up.
constexpr int kRetrievalNameAttempts = 1000;

// Creates the retrieval record file "<stem>.txt" in directory or, where a
// file of that name exists, "<stem>_2.txt", "<stem>_3.txt" ...: another
// retrieval's file is never opened. Sets path to the name taken.
std::FILE* CreateRetrievalFile(const std::string& directory, const std::string& stem, std::string& path) {
    for (int n = 1; n <= kRetrievalNameAttempts; ++n) {
        path = core::join_path(directory, stem + (n == 1 ? "" : "_" + std::to_string(n)) + ".txt");
        bool exists = false;
        if (std::FILE* file = platform::create_new_text_file(path, exists)) return file;
        if (!exists) return nullptr;
    }
    return nullptr;
}

}  // namespace

bool RecordFiles::open(int controller, const platform::LocalTime& start) {
    close();
    const std::string directory = core::module_path({"cardinfo"});
    platform::make_directory(directory);
    char name[64];
    std::snprintf(name, sizeof name, "mj%03d.txt", controller);
    controllerPath_ = core::module_path({name});
    std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d%03d", start.year, start.month, start.day,
                  start.hour, start.minute, start.second, controller);
    controllerFile_ = OpenForAppend(controllerPath_);
    retrievalFile_ = CreateRetrievalFile(directory, name, retrievalPath_);
    if (!controllerFile_ || !retrievalFile_) {
        close();
        return false;
    }
    return true;
}

void RecordFiles::close() {
    // Every line was flushed when it was written; closing loses nothing.
    if (controllerFile_) (void)std::fclose(controllerFile_);
    if (retrievalFile_) (void)std::fclose(retrievalFile_);
    controllerFile_ = retrievalFile_ = nullptr;
}

bool RecordFiles::write_line(const std::string& line, Order order) {
    if (!controllerFile_ || !retrievalFile_) return false;
    std::FILE* first = order == Order::RetrievalFirst ? retrievalFile_ : controllerFile_;
    std::FILE* second = order == Order::RetrievalFirst ? controllerFile_ : retrievalFile_;
    return WriteLineWithRetry(first, line) && WriteLineWithRetry(second, line);
}

namespace {

void write_key(const char* section, int controller, long value) {
    char key[48];
    char text[24];
    std::snprintf(key, sizeof key, "%s%d", section, controller);
    std::snprintf(text, sizeof text, "%ld", value);
    platform::profile_write_string(section, key, text, core::registry_path().c_str());
}

}  // namespace

void WriteTotalImages(int controller, long value) { write_key("TotalImg", controller, value); }
void WriteCurrentImage(int controller, long value) { write_key("CurrentImg", controller, value); }

}  // namespace doorlink::records
