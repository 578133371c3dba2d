// SPDX-License-Identifier: MIT
// Reserved source ports (the extension rpcSetReservedPort): a client socket
// bound to a port below 1024 before it connects or sends, for servers that
// trust AUTH_UNIX only from such ports (an NFS server's `secure` export
// option). The search is bindresvport's: ports 1023 down to 512, from a
// random start, wrapping, each port tried at most once.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace qelrpc::exchange {

constexpr uint16_t kReservedLow = 512;
constexpr uint16_t kReservedHigh = 1023;

// One search across the reserved ports; a TCP exchange whose connect finds
// the bound port unusable (another connection to the same server still in
// TIME_WAIT on it) goes on with a new socket from where it stopped.
class ReservedPortSearch {
  public:
    ReservedPortSearch() noexcept;

    // Binds s (any local address) to the next free reserved port. 0;
    // WSAEACCES (10013) when the process may not bind such ports (no root or
    // CAP_NET_BIND_SERVICE): never a quiet fallback to an ephemeral port;
    // WSAEADDRINUSE (10048) when every port was tried and none was free;
    // another Windows Sockets number from the bind itself.
    int bind(platform::NativeSocket s, platform::SocketType type) noexcept;

    // Ports not yet tried.
    unsigned left() const noexcept { return kCount - tried_; }

  private:
    static constexpr unsigned kCount = kReservedHigh - kReservedLow + 1;
    uint16_t next_;
    unsigned tried_ = 0;
};

}  // namespace qelrpc::exchange
