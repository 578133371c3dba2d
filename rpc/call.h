// SPDX-License-Identifier: MIT
// Internals of CallRPC, rpcCallRPCProgram and ProcessRPCResponse, with the
// exports' return codes; the exports are shells that refuse a null record.
#pragma once

#include "qelrpc.h"

namespace qelrpc::rpc {

int callRpc(RpcOperation& op, int reserved) noexcept;
int callProgram(RpcOperation& op, int reserved) noexcept;
int processResponse(RpcOperation& op) noexcept;

}  // namespace qelrpc::rpc
