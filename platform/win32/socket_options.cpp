#include "platform/socket_options.h"

#include <winsock.h>

namespace qelrpc::platform {

int setLinger(NativeSocket s, bool on, unsigned short seconds) noexcept {
    LINGER l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) == 0
               ? 0
               : WSAGetLastError();
}

int setReuseAddress(NativeSocket s, bool on) noexcept {
    BOOL v = on ? TRUE : FALSE;
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&v), sizeof v) == 0
               ? 0
               : WSAGetLastError();
}

int claimListeningAddress(NativeSocket s) noexcept {
    // SO_EXCLUSIVEADDRUSE of Windows Sockets 2 (~SO_REUSEADDR); the 1.1
    // header does not name it.
    constexpr int kExclusiveAddressUse = ~SO_REUSEADDR;
    BOOL v = TRUE;
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, kExclusiveAddressUse, reinterpret_cast<const char*>(&v),
                      sizeof v) == 0
               ? 0
               : WSAGetLastError();
}

int setBroadcast(NativeSocket s, bool on) noexcept {
    BOOL v = on ? TRUE : FALSE;
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&v), sizeof v) == 0
               ? 0
               : WSAGetLastError();
}

}  // namespace qelrpc::platform
