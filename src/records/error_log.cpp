// ErrorScore: one pushed error report, into the caller's buffer and the
// controller's error log file.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/exchange.h"
#include "core/export_guard.h"
#include "core/paths.h"
#include "doorlink/doorlink.h"
#include "platform/files.h"
#include "records/pushed.h"
#include "records/record_files.h"

namespace doorlink::records {
namespace {

// "机号" (machine number) in GB2312, which the host's log readers expect.
constexpr char kMachineNumber[] = "\xBB\xFA\xBA\xC5";

}  // namespace

uint32_t ReceiveErrorReport(core::Transport& transport, core::SocketHandle socket, char* text,
                            int controller) {
    const std::string directory = core::module_path({"error"});
    platform::make_directory(directory);
    char name[32];
    std::snprintf(name, sizeof name, "error%03d.txt", controller);
    std::FILE* log = OpenForAppend(core::join_path(directory, name));
    if (!log) return 0;

    uint8_t buffer[kPushBufferCapacity + 1];
    core::Endpoint from;
    for (int skipped = 0;; ++skipped) {
        // Nothing was written to the log yet: closing it cannot lose a report.
        if (skipped >= core::kMaxRejectedReplies) {
            (void)std::fclose(log);
            return 0;
        }
        std::memset(buffer, 0, sizeof buffer);
        const int length = transport.receive(socket, buffer, kPushBufferCapacity, from);
        if (length == -1) {
            (void)std::fclose(log);
            return 0;
        }
        // Acknowledgements of the monitoring request are no reports.
        if (length == 0 || IsMonitoringAcknowledgement(buffer, length)) continue;
        break;
    }
    // The report is text up to its first zero; the buffer always holds one.
    std::snprintf(text, kErrorTextSize, "%s: %03d\n%s", kMachineNumber, controller,
                  reinterpret_cast<const char*>(buffer));
    const bool written = WriteLineWithRetry(log, text);
    return std::fclose(log) == 0 && written ? 1 : 0;
}

}  // namespace doorlink::records

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL ErrorScore(const char* address, char* text, int32_t controller,
                                                          uint32_t socket) {
    (void)address;  // the sender of a report is not checked
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!text || socket == 0) return 0;
        return records::ReceiveErrorReport(core::udp_transport(), socket, text, controller);
    });
}
