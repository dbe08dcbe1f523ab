// SysComInter: one framed command through a link object made for the call.
#include <memory>
#include <new>

#include "core/export_guard.h"
#include "core/library_state.h"
#include "core/transport.h"
#include "doorlink/doorlink.h"
#include "framed/com_link.h"

using namespace doorlink;

extern "C" DOORLINK_API uint32_t DOORLINK_CALL SysComInter(const char* address, uint16_t node, uint32_t,
                                                           uint32_t, const uint8_t* station,
                                                           const uint8_t* command, uint8_t* answer) {
    return core::guarded<uint32_t>(0, [&]() -> uint32_t {
        if (!address || !station || !command || !answer) return 0;
        framed::LinkSettings settings;
        settings.node = node;
        settings.reserved = 0;
        settings.address = address;
        settings.port = core::kControllerPort;
        std::unique_ptr<framed::ComLink> link(new (std::nothrow) framed::ComLink(settings));
        if (!link) return 0;
        core::PortRange range = core::LibraryState::get().port_range();
        if (range.set) {
            link->SetRange(static_cast<uint16_t>(range.start), static_cast<uint16_t>(range.end));
        }
        return link->Exchange(station, command, answer) == 1 ? 1 : 0;
    });
}
