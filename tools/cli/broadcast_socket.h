// SPDX-License-Identifier: MIT
// The broadcast socket that rpcBroadcastStart leaves open is the caller's to
// close, with the system's own call.
#pragma once

#include "qelrpc.h"

namespace qelrpc::cli {

void closeBroadcastSocket(RpcSocket sock);

}  // namespace qelrpc::cli
