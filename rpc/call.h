// SPDX-License-Identifier: MIT
// The call driver and the reply check as internals: CallRPC,
// rpcCallRPCProgram and ProcessRPCResponse are thin shells over these (they
// refuse a null operation), and the library's own code calls these. Same
// return codes as the exports (docs/ERRORS.md).
#pragma once

#include "qelrpc.h"

namespace qelrpc::rpc {

// One exchange of the prepared call (TCP when its port is usable, else UDP)
// and the check of its reply.
int callRpc(RpcOperation& op, int reserved) noexcept;

// callRpc after checking that the host is resolved and a port is usable.
int callProgram(RpcOperation& op, int reserved) noexcept;

// Checks the reply in op.reply.block (block.count bytes) and leaves its
// data window on the results.
int processResponse(RpcOperation& op) noexcept;

}  // namespace qelrpc::rpc
