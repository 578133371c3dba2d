// SPDX-License-Identifier: MIT
// The check of an incoming CALL header; ProcessRPCCall is a thin shell over
// it, and the accept loop calls it directly.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

// Reads the CALL header at the start of op.request's block, bounded by the
// bytes received (block.count, clamped to the block), stores xid before any
// check, then sets prog, vers, proc and the header and data windows. 0 or a
// server::status code, as ProcessRPCCall.
int processCall(RpcOperation& op, uint32_t& xid) noexcept;

}  // namespace qelrpc::server
