// SPDX-License-Identifier: MIT
// The client's exchanges: one prepared call out of the request block and
// its raw reply into the reply block, over UDP or over a TCP connection
// that lives for this exchange only. The exports DoUDPRPCGram, DoTCPRPCGram
// and GetHostIP are thin shells over these.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::exchange {

// Return codes as the exports': 0, a status from rpc/status.h, or a Windows
// Sockets error number.
int udpExchange(RpcOperation& op) noexcept;
int tcpExchange(RpcOperation& op) noexcept;

// name's IPv4 address in network byte order; 0xFFFFFFFF when it has none.
uint32_t getHostIp(const char* name) noexcept;

}  // namespace qelrpc::exchange
