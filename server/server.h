// SPDX-License-Identifier: MIT
// The server side's internals: ProcessRPCCall, rpcCreateReplyHeader,
// rpcInitServerOperation and rpcAcceptIncoming are thin shells over these
// (a null argument is refused there), with the same return codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

// server/incoming_call.cpp: the CALL header at the start of op.request's
// block, read within the bytes received; xid is stored before any check.
int processCall(RpcOperation& op, uint32_t& xid) noexcept;

// server/reply_header.cpp: an accepted-reply header in op.reply; and the
// MSG_DENIED / RPC_MISMATCH header (versions 2 to 2, no results) that
// answers a call of another RPC version.
int createReplyHeader(RpcOperation& op, uint32_t xid, uint32_t acceptStatus, const uint32_t* versions) noexcept;
void writeRpcMismatchHeader(Mbuf& rep, uint32_t xid) noexcept;

// server/endpoint.cpp: the listening endpoint.
int initServerOperation(RpcOperation& op, uint16_t port) noexcept;
// The same on a given address (network order; 0 for every interface),
// without the host name look-up.
int initServerOperationAt(RpcOperation& op, uint32_t address, uint16_t port) noexcept;
// server/accept_loop.cpp: the loop, and the most connections it keeps open
// at once (the system's wait set less the listening socket).
int acceptIncoming(RpcOperation& listening, RpcCallHandler handler);
std::size_t connectionCap() noexcept;

}  // namespace qelrpc::server
