// The library's 32-bit socket handle of a Windows SOCKET. The exports pass
// sockets to the host as 32-bit values, and a SOCKET is as wide as a pointer:
// on 64-bit Windows one above 0xFFFFFFFF cannot be passed on, so it is closed
// and the caller gets 0, "no socket", as for a socket that could not be made.
#pragma once

#include <cstdint>

#include "platform/net.h"
#include "platform/win32/win32_api.h"

namespace doorlink::platform {

template <typename Close>
SocketHandle socket_handle_of(SOCKET s, Close close) {
    if (s == INVALID_SOCKET) return 0;
    if (static_cast<uint64_t>(s) >> 32 != 0) {
        close(s);
        return 0;
    }
    // 0 is never a valid SOCKET.
    return static_cast<SocketHandle>(s);
}

inline SocketHandle socket_handle_of(SOCKET s) { return socket_handle_of(s, ::closesocket); }

}  // namespace doorlink::platform
