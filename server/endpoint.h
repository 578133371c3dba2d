// SPDX-License-Identifier: MIT
// The listening endpoint and the accept loop; rpcInitServerOperation and
// rpcAcceptIncoming are thin shells over these (a null argument is refused
// there). Same return codes as the exports.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::server {

int initServerOperation(RpcOperation& op, uint16_t port) noexcept;
int acceptIncoming(RpcOperation& listening, RpcCallHandler handler);

}  // namespace qelrpc::server
