// SPDX-License-Identifier: MIT
#include "platform/message_pump.h"

namespace qelrpc::platform {

// No window messages on this system: the waiting thread only waits.
void pumpWindowMessages(RpcWindow) noexcept {}

}  // namespace qelrpc::platform
