// The DLL's load-time entry point: process attach builds the library state;
// every other notification does nothing, and every one reports success.
// Kept in a file of its own so that a static link leaves it out.
#include "platform/module_entry.h"
#include "platform/win32/win32_api.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            doorlink::on_process_attach();
        } catch (...) {
            // The first export builds the state instead.
        }
    }
    return TRUE;
}
