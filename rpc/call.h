// SPDX-License-Identifier: MIT
// Internals of CallRPC, rpcCallRPCProgram and ProcessRPCResponse.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::rpc {

// 0 is no port, and 0xFFFF one a portmapper may name but no caller may use.
inline bool usablePort(uint16_t p) noexcept { return p != 0 && p != 0xFFFF; }

int callRpc(RpcOperation& op, int reserved) noexcept;
int callProgram(RpcOperation& op, int reserved) noexcept;
int processResponse(RpcOperation& op) noexcept;

}  // namespace qelrpc::rpc
