// SPDX-License-Identifier: MIT
// Internals of DoUDPRPCGram, DoTCPRPCGram and GetHostIP.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::exchange {

// 0, a status from rpc/status.h, or a Windows Sockets error number.
int udpExchange(RpcOperation& op) noexcept;
int tcpExchange(RpcOperation& op) noexcept;

// Kept connections (rpcSetKeepConnection). on: sock is the operation's from
// now on (what it held before is forgotten); off, and closeKept: a kept
// socket is closed, sock is RPC_INVALID_SOCKET and the flag is cleared.
// closeKept leaves an operation that keeps nothing exactly as it was.
void keepConnection(RpcOperation& op, bool on) noexcept;
void closeKept(RpcOperation& op) noexcept;

// name's IPv4 address in network byte order; 0xFFFFFFFF when it has none.
uint32_t getHostIp(const char* name) noexcept;

}  // namespace qelrpc::exchange
