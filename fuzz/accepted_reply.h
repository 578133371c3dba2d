// SPDX-License-Identifier: MIT
// Results handed to the user-service exports as a caller's reply would be:
// behind a fixed accepted-reply header, in read-only memory that ends where
// a guard page begins, checked by ProcessRPCResponse first (so the exports
// that take a bare results pointer take their bound from that reply).
#pragma once

#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

namespace fuzzmem {

// xid, REPLY, MSG_ACCEPTED, AUTH_NULL verifier (flavor, length 0), SUCCESS.
inline constexpr uint8_t kAcceptedHeader[24] = {0, 0, 0, 1, 0, 0, 0, 1};

// The largest results that fit one message block behind the header.
inline constexpr std::size_t kMaxAcceptedResults = RPC_MBUF_SIZE - sizeof kAcceptedHeader;

// The operation (in opArea) whose reply is the header and the n bytes of
// results, accepted, with reply.data over the results.
inline RpcOperation* acceptedReply(ReadOnlyInput& input, GuardedOutput& opArea, const uint8_t* results,
                                   std::size_t n) {
    const uint8_t* reply = input.place(kAcceptedHeader, sizeof kAcceptedHeader, results, n);
    RpcOperation* op = opArea.zeroed<RpcOperation>();
    op->reply.block.pos = const_cast<uint8_t*>(reply);  // read in place, never written
    op->reply.block.count = static_cast<uint32_t>(sizeof kAcceptedHeader + n);
    op->reply.block.limit = op->reply.block.count;
    if (ProcessRPCResponse(op) != 0 || op->reply.data.pos != reply + sizeof kAcceptedHeader ||
        op->reply.data.count != n)
        std::abort();
    return op;
}

}  // namespace fuzzmem
