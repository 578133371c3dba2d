// SPDX-License-Identifier: MIT
#include "platform/socket_errors.h"

#include <cerrno>

#include "platform/posix/socket_errors_posix.h"

namespace qelrpc::platform {

int mapSocketErrno(int e) noexcept {
    if (e == 0) return 0;
    // EAGAIN and EWOULDBLOCK may differ; both mean "nothing to do now".
    if (e == EAGAIN) return sockerr::kWouldBlock;
    // Writing to a connection the peer has reset.
    if (e == EPIPE) return sockerr::kConnectionReset;
    if (e == ENOMEM) return sockerr::kNoBuffers;
    // Not permitted (a security module's refusal, a bind below 1024 under
    // some systems' rules): Windows Sockets has one "access denied".
    if (e == EPERM) return sockerr::kAccessDenied;
#define QELRPC_MAP_ERRNO(name, number, posixName, ...) \
    if (e == posixName) return number;
    QELRPC_SOCKET_ERRORS(QELRPC_MAP_ERRNO, )
#undef QELRPC_MAP_ERRNO
    return sockerr::kSystemCallFailure;
}

}  // namespace qelrpc::platform
