#include "platform/socket_options.h"

#include <sys/socket.h>


#include "platform/socket_errors.h"

namespace qelrpc::platform {


namespace {
int fd(NativeSocket s) { return static_cast<int>(s); }
}  // namespace

int setLinger(NativeSocket s, bool on, unsigned short seconds) noexcept {
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return setsockopt(fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : sockerr::kInvalidArgument;
}

int setReuseAddress(NativeSocket s, bool on) noexcept {
    int v = on ? 1 : 0;
    return setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 ? 0 : sockerr::kInvalidArgument;
}

int claimListeningAddress(NativeSocket s) noexcept { return setReuseAddress(s, true); }

int setBroadcast(NativeSocket s, bool on) noexcept {
    int v = on ? 1 : 0;
    return setsockopt(fd(s), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0 ? 0 : sockerr::kInvalidArgument;
}

}  // namespace qelrpc::platform
