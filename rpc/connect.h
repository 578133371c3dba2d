// SPDX-License-Identifier: MIT
// The TCP connect of an exchange, abandoned when the caller's cancel flag
// becomes nonzero. All state of one connect lives in that connect, so any
// number of threads may connect at once.
#pragma once

#include "platform/sockets.h"
#include "qelrpc.h"

namespace qelrpc::exchange {

// Connects the non-blocking socket s to peer; s stays non-blocking, as the
// exchange's send and receive want it. cancelFlag
// (may be null) is looked at every Limits::connectPollMicros while the
// connect is pending. With a window and a cancel flag, the connect runs on a
// thread of its own while the calling thread keeps the window's messages
// flowing; otherwise the calling thread, which has nothing else to do, runs
// it itself. Returns 0, status::kExchangeCancelled, or the connect's own Windows
// Sockets error: a failed connect never reads as 0.
int connectTcp(platform::NativeSocket s, const platform::Endpoint& peer, RpcWindow window,
               int* cancelFlag) noexcept;

}  // namespace qelrpc::exchange
