// SPDX-License-Identifier: MIT
// The reply headers the server side writes; rpcCreateReplyHeader is a thin
// shell over createReplyHeader.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

// An accepted-reply header in op.reply (for PROG_MISMATCH with the version
// pair). 0 or a server::status code, as rpcCreateReplyHeader.
int createReplyHeader(RpcOperation& op, uint32_t xid, uint32_t acceptStatus, const uint32_t* versions) noexcept;

// The MSG_DENIED / RPC_MISMATCH header (versions 2 to 2) that answers a call
// of another RPC version, with no results behind it. False without a reply
// block.
bool writeRpcMismatchHeader(Mbuf& rep, uint32_t xid) noexcept;

}  // namespace qelrpc::server
