#include "model/sync_result.h"

namespace doorlinkd {

const char* status_name(SyncStatus status) {
    switch (status) {
        case SyncStatus::InStep: return "in_step";
        case SyncStatus::Repaired: return "repaired";
        case SyncStatus::Drift: return "drift";
        case SyncStatus::Unreachable: return "unreachable";
        case SyncStatus::Busy: return "busy";
    }
    return "unreachable";
}

}  // namespace doorlinkd
