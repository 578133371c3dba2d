// SPDX-License-Identifier: MIT
// The call header writer as internals: rpcPrepareRPCHeader and
// rpcPrepareRPCBroadcastHeader are thin shells over these (they refuse a
// null operation). Same return codes as the exports.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::rpc {

// Writes the call header for proc (xid, program, version, credential and
// verifier) into the front of op.request's block.
int prepareHeader(RpcOperation& op, uint32_t proc) noexcept;

// Sets the program, version and UDP port of a broadcast, then prepareHeader.
int prepareBroadcastHeader(RpcOperation& op, uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port) noexcept;

}  // namespace qelrpc::rpc
