// SPDX-License-Identifier: MIT
#include <winsock2.h>

#include "broadcast_socket.h"

namespace qelrpc::cli {

// The library started the socket layer when it was loaded.
void closeBroadcastSocket(RpcSocket sock) {
    if (sock != RPC_INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(sock));
}

}  // namespace qelrpc::cli
