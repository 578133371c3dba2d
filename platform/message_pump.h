// SPDX-License-Identifier: MIT
// The calling thread's window messages while it waits for a TCP connect, so
// a dialog stays alive and its controls can set the caller's cancel flag.
#pragma once

#include "qelrpc.h"

namespace qelrpc::platform {

// Dispatches every message queued for the calling thread; messages for the
// dialog `window` go through its dialog handling first. Returns at once when
// nothing is queued. Systems without window messages have nothing to do.
void pumpWindowMessages(RpcWindow window) noexcept;

}  // namespace qelrpc::platform
