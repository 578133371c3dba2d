// SPDX-License-Identifier: MIT
// The exchange observer (rpcSetExchangeObserver): a function of the
// caller's, per thread, shown every exchange the library makes on that
// thread, on the caller's operations and on its own (the portmapper
// questions, the name-service and authorisation calls), right after it.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::exchange {

// Shows the calling thread's observer, if it has one, the exchange just
// made on op: the prepared request block (total bytes from its record-mark
// slot), the reply block as the exchange left it, and its status. Calls
// the observer makes itself are not shown to it.
void observe(const RpcOperation& op, bool tcp, uint32_t total, int status) noexcept;

}  // namespace qelrpc::exchange
