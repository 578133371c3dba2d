// The message blocks of the accept loop's per-call operations. Each call
// gets an operation as fresh as rpcInitOperation makes it (two zero-filled
// 65,536-byte blocks), but the blocks are kept from call to call and only
// the bytes the previous call used are cleared again, instead of taking and
// clearing 128 KB anew for every call.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

class CallBlocks {
  public:
    CallBlocks() = default;
    CallBlocks(const CallBlocks&) = delete;
    CallBlocks& operator=(const CallBlocks&) = delete;
    ~CallBlocks();

    // Sets up `op` (cleared by the caller) with two zero-filled blocks: the
    // kept ones, or new ones. The status of rpcInitOperation.
    int lend(RpcOperation& op);

    // After the call: releases the call's credential, clears what the call
    // used of the blocks and keeps them for the next call. Blocks the
    // handler released or replaced are not kept (a replaced one is released
    // here). `op` is left without blocks or credential.
    void takeBack(RpcOperation& op);

  private:
    uint8_t* request_ = nullptr;
    uint8_t* reply_ = nullptr;
};

}  // namespace qelrpc::server
