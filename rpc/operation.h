// Internal pieces of the operation record's set-up, for code that hands out
// blocks it already holds (the server's accept loop) yet must leave the
// operation as rpcInitOperation would.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::operation {

// `m` stands on `block` (RPC_MBUF_SIZE bytes) with nothing in it yet.
void attachBlock(Mbuf& m, uint8_t* block) noexcept;

// The fields rpcInitOperation sets besides the two blocks.
void resetCallFields(RpcOperation& op) noexcept;

}  // namespace qelrpc::operation
