// The download and read-back exports over the UDP transport.
#include "cardlists/download.h"
#include "cardlists/readback.h"
#include "core/export_guard.h"
#include "doorlink/doorlink.h"

using namespace doorlink;
using cardlists::RecordKind;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorDownName(const char* address, int32_t count,
                                                            int32_t listNumber, const char* macText) {
    return core::guarded<uint32_t>(0, [&] {
        return cardlists::DownloadList(core::udp_transport(), address, count, listNumber, macText,
                                       RecordKind::Short);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DoorDownName1(const char* address, int32_t count,
                                                             int32_t listNumber, const char* macText) {
    return core::guarded<uint32_t>(0, [&] {
        return cardlists::DownloadList(core::udp_transport(), address, count, listNumber, macText,
                                       RecordKind::Long);
    });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL DownName(const char* address, int32_t count,
                                                        int32_t listNumber, const char* macText,
                                                        uint32_t kind) {
    if (kind == 0) return DoorDownName(address, count, listNumber, macText);
    if (kind == 1) return DoorDownName1(address, count, listNumber, macText);
    return 0;
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL LookDoorName(const char* address, int32_t listNumber,
                                                            const char* macText) {
    return core::guarded<uint32_t>(
        0, [&] { return cardlists::ReadBackList(core::udp_transport(), address, listNumber, macText); });
}

extern "C" DOORLINK_API uint32_t DOORLINK_CALL NameToini(const char* readBackPath, int32_t number) {
    return core::guarded<uint32_t>(0, [&] { return cardlists::ReadBackToIni(readBackPath, number); });
}
