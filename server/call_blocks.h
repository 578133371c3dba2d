// SPDX-License-Identifier: MIT
// The message blocks of the accept loop's per-call operations. Each call
// gets an operation as fresh as rpcInitOperation makes it (two zero-filled
// 65,536-byte blocks), but blocks are kept from call to call and only the
// bytes the previous call used are cleared again, instead of taking and
// clearing 128 KB anew for every call. A connection holds a block only
// while one of its records is arriving or its call is served; a few spare
// blocks are kept for the next calls, the rest go back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

class BlockPool {
  public:
    BlockPool() = default;
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;
    ~BlockPool();

    // A zero-filled block of RPC_MBUF_SIZE bytes, or nullptr without memory.
    uint8_t* take() noexcept;
    // A block back, all zero again (a block of a connection that ends
    // before its record is whole: `used` bytes were written).
    void give(uint8_t* block, uint32_t used) noexcept;

    // Sets up `op` (cleared by the caller) as rpcInitOperation would, its
    // request block `request` (already holding the call's bytes) and a
    // reply block from the pool. The status of rpcInitOperation; on failure
    // `request` is the caller's still.
    int lend(RpcOperation& op, uint8_t* request, uint32_t requestBytes) noexcept;
    // After the call: releases the call's credential, clears what the call
    // used of the blocks and keeps them. Blocks the handler released or
    // replaced are not kept (a replaced one is released here). `op` is left
    // without blocks or credential.
    void takeBack(RpcOperation& op) noexcept;

  private:
    static constexpr std::size_t kSpare = 8;
    uint8_t* spare_[kSpare] = {};
    std::size_t count_ = 0;
    // The blocks lent to the call being served.
    uint8_t* lentRequest_ = nullptr;
    uint8_t* lentReply_ = nullptr;
};

}  // namespace qelrpc::server
