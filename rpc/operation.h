// SPDX-License-Identifier: MIT
// Internals of rpcInitOperation(Ex), rpcCloseOperation, rpcAllocateBuffer,
// InitRpcHeaderBuffer, InitDataBuffer and CopyRpcBuffer.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::operation {

int allocateBuffer(Mbuf& m) noexcept;
int init(RpcOperation& op) noexcept;
int initEx(RpcOperation& op, const char* hostName, uint32_t hostAddr) noexcept;
void close(RpcOperation& op) noexcept;
void initHeaderBuffer(Mbuf& m) noexcept;
void initDataBuffer(Mbuf& m) noexcept;
void copyBuffer(const Mbuf& src, Mbuf& dst) noexcept;

// For code that hands out blocks it already holds (the server's accept
// loop) yet must leave the operation as init would: `m` stands on `block`
// (RPC_MBUF_SIZE bytes) with nothing in it yet; the fields init sets besides
// the two blocks.
void attachBlock(Mbuf& m, uint8_t* block) noexcept;
void resetCallFields(RpcOperation& op) noexcept;

}  // namespace qelrpc::operation
