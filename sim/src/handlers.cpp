#include "handlers.h"

#include <algorithm>

namespace doorsim {

// NOLINTNEXTLINE(cert-err58-cpp,bugprone-throwing-static-initialization): constant data
const Bytes kAcknowledgement = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

const std::vector<Handler>& handlers() {
    static const std::vector<Handler> table = [] {
        std::vector<Handler> t;
        add_clock_handlers(t);
        add_door_handlers(t);
        add_framed_handlers(t);
        add_card_handlers(t);
        add_device_handlers(t);
        add_records_handlers(t);
        return t;
    }();
    return table;
}

bool starts_with(const Bytes& request, std::initializer_list<uint8_t> prefix) {
    return request.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), request.begin());
}

bool mac_at(const Bytes& request, size_t offset, const ControllerState& state) {
    return request.size() >= offset + 6 &&
           std::equal(state.mac.begin(), state.mac.end(), request.begin() + static_cast<long>(offset));
}

}  // namespace doorsim
