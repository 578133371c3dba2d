// SPDX-License-Identifier: MIT
#include "rpc/reserved_port.h"

#include "platform/clock.h"
#include "platform/random.h"
#include "platform/socket_errors.h"
#include "platform/socket_options.h"

namespace qelrpc::exchange {

using namespace platform;

ReservedPortSearch::ReservedPortSearch() noexcept {
    // A random start spreads clients (and one client's successive calls)
    // over the range, so they rarely queue behind the same busy ports.
    uint32_t r = 0;
    if (!randomBytes(&r, sizeof r)) r = static_cast<uint32_t>(monotonicMillis());
    next_ = static_cast<uint16_t>(kReservedLow + r % kCount);
}

int ReservedPortSearch::bind(NativeSocket s, SocketType type) noexcept {
    // A connection closed from this side leaves its port in TIME_WAIT for a
    // minute; with only 512 ports, a client making a connection per call
    // would run out long before. On POSIX the stream socket may bind over
    // such leftovers (SO_REUSEADDR: a port another socket is bound to, or
    // listens on, stays refused); the connect then refuses the one port whose
    // leftover leads to the same server, and the exchange moves on.
    if (type == SocketType::Stream) {
        const int rc = allowClientPortReuse(s);
        if (rc != 0) return rc;
    }
    while (tried_ < kCount) {
        const uint16_t port = next_;
        next_ = port == kReservedLow ? kReservedHigh : static_cast<uint16_t>(port - 1);
        ++tried_;
        const int rc = bindTo(s, Endpoint{0, port});
        if (rc == 0) return 0;
        // Busy: try the next. Anything else (above all WSAEACCES, not
        // permitted) is the answer for every port alike.
        if (rc != sockerr::kAddressInUse) return rc;
    }
    return sockerr::kAddressInUse;
}

}  // namespace qelrpc::exchange
