// SPDX-License-Identifier: MIT
#include "platform/socket_options.h"

#include <sys/socket.h>

#include "platform/socket_errors.h"

namespace qelrpc::platform {
namespace {

template <class T>
int setOption(NativeSocket s, int name, const T& value) {
    return setsockopt(static_cast<int>(s), SOL_SOCKET, name, &value, sizeof value) == 0 ? 0 : sockerr::kInvalidArgument;
}

}  // namespace

int setLinger(NativeSocket s, bool on, unsigned short seconds) noexcept {
    return setOption(s, SO_LINGER, linger{.l_onoff = on, .l_linger = seconds});
}

int setReuseAddress(NativeSocket s, bool on) noexcept { return setOption(s, SO_REUSEADDR, on ? 1 : 0); }

int claimListeningAddress(NativeSocket s) noexcept { return setReuseAddress(s, true); }

int allowClientPortReuse(NativeSocket s) noexcept { return setReuseAddress(s, true); }

int setBroadcast(NativeSocket s, bool on) noexcept { return setOption(s, SO_BROADCAST, on ? 1 : 0); }

}  // namespace qelrpc::platform
