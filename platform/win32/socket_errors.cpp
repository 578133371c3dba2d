// SPDX-License-Identifier: MIT
// The error table of platform/socket_errors.h is the system's own numbering
// here; these checks keep the table honest.
#include "platform/socket_errors.h"

#include <windows.h>
#include <winsock.h>

namespace qelrpc::platform::sockerr {

#define QELRPC_CHECK_WSA(name, number, posixName, winName, ...) \
    static_assert(name == winName, #name " is not " #winName);
QELRPC_SOCKET_ERRORS(QELRPC_CHECK_WSA, )
#undef QELRPC_CHECK_WSA

static_assert(kSystemCallFailure == WSASYSCALLFAILURE);
static_assert(kDisconnected == WSAEDISCON);

}  // namespace qelrpc::platform::sockerr
