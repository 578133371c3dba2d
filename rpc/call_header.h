// SPDX-License-Identifier: MIT
// Internals of rpcPrepareRPCHeader and rpcPrepareRPCBroadcastHeader.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::rpc {

int prepareHeader(RpcOperation& op, uint32_t proc) noexcept;
int prepareBroadcastHeader(RpcOperation& op, uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port) noexcept;

}  // namespace qelrpc::rpc
