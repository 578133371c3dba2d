// SPDX-License-Identifier: MIT
// Internals of DoUDPRPCGram, DoTCPRPCGram and GetHostIP.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::exchange {

// 0, a status from rpc/status.h, or a Windows Sockets error number.
int udpExchange(RpcOperation& op) noexcept;
int tcpExchange(RpcOperation& op) noexcept;

// name's IPv4 address in network byte order; 0xFFFFFFFF when it has none.
uint32_t getHostIp(const char* name) noexcept;

}  // namespace qelrpc::exchange
