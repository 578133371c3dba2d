// SPDX-License-Identifier: MIT
#include "platform/socket_options.h"

#include <winsock.h>

namespace qelrpc::platform {
namespace {

template <class T>
int setOption(NativeSocket s, int name, const T& value) {
    const char* v = reinterpret_cast<const char*>(&value);
    return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, name, v, sizeof value) == 0 ? 0 : WSAGetLastError();
}

}  // namespace

int setLinger(NativeSocket s, bool on, unsigned short seconds) noexcept {
    return setOption(s, SO_LINGER, LINGER{.l_onoff = on, .l_linger = seconds});
}

int setReuseAddress(NativeSocket s, bool on) noexcept { return setOption<BOOL>(s, SO_REUSEADDR, on ? TRUE : FALSE); }

int claimListeningAddress(NativeSocket s) noexcept {
    // SO_EXCLUSIVEADDRUSE of Windows Sockets 2 (~SO_REUSEADDR); the 1.1
    // header does not name it.
    constexpr int kExclusiveAddressUse = ~SO_REUSEADDR;
    return setOption<BOOL>(s, kExclusiveAddressUse, TRUE);
}

int allowClientPortReuse(NativeSocket) noexcept { return 0; }

int setBroadcast(NativeSocket s, bool on) noexcept { return setOption<BOOL>(s, SO_BROADCAST, on ? TRUE : FALSE); }

}  // namespace qelrpc::platform
