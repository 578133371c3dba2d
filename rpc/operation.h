// The operation record's lifecycle as internals: the exported
// rpcInitOperation(Ex), rpcCloseOperation, rpcAllocateBuffer,
// InitRpcHeaderBuffer, InitDataBuffer and CopyRpcBuffer are thin shells over
// these (a null record is refused or ignored there), and the library's own
// code calls these. Same return codes as the exports.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::operation {

// A zeroed block of RPC_MBUF_SIZE bytes for m; 0, or 8 with no memory
// (m.block.pos then null).
int allocateBuffer(Mbuf& m) noexcept;

// Both blocks and the call fields; on failure neither block is held.
int init(RpcOperation& op) noexcept;

// Clears op, takes hostName (when not null) and hostAddr (unless
// 0xFFFFFFFF), then init.
int initEx(RpcOperation& op, const char* hostName, uint32_t hostAddr) noexcept;

// Releases both blocks and the credential record.
void close(RpcOperation& op) noexcept;

// The header window over the whole block, empty.
void initHeaderBuffer(Mbuf& m) noexcept;

// The data window behind the header's bytes, empty.
void initDataBuffer(Mbuf& m) noexcept;

// dst borrows src's block (only the block's window is copied).
void copyBuffer(const Mbuf& src, Mbuf& dst) noexcept;

// Internal pieces of the set-up, for code that hands out blocks it already
// holds (the server's accept loop) yet must leave the operation as init
// would.

// `m` stands on `block` (RPC_MBUF_SIZE bytes) with nothing in it yet.
void attachBlock(Mbuf& m, uint8_t* block) noexcept;

// The fields rpcInitOperation sets besides the two blocks.
void resetCallFields(RpcOperation& op) noexcept;

}  // namespace qelrpc::operation
