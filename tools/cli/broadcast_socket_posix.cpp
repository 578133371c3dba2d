// SPDX-License-Identifier: MIT
#include <unistd.h>

#include "broadcast_socket.h"

namespace qelrpc::cli {

void closeBroadcastSocket(RpcSocket sock) {
    if (sock != RPC_INVALID_SOCKET) ::close(static_cast<int>(sock));
}

}  // namespace qelrpc::cli
