// SPDX-License-Identifier: MIT
// Socket options the server side and the client's exchanges set.
#pragma once

#include "platform/sockets.h"

namespace qelrpc::platform {

// SO_LINGER: on with the given time in seconds (0 resets the connection on
// close), or off. Returns 0 or a Windows Sockets error number.
int setLinger(NativeSocket s, bool on, unsigned short seconds) noexcept;

// SO_REUSEADDR, so a restarted server can bind its port again at once.
int setReuseAddress(NativeSocket s, bool on) noexcept;

// What a listening socket sets before bind so that its port is its own and
// a restart is quick. POSIX: SO_REUSEADDR, which only lets it bind over the
// port's TIME_WAIT leftovers (a port another socket listens on stays
// refused). Windows: SO_EXCLUSIVEADDRUSE, since SO_REUSEADDR there would let
// another program bind the same port and take its connections, and would
// hide that this bind failed.
int claimListeningAddress(NativeSocket s) noexcept;

// What a client stream socket sets before binding a reserved source port,
// so the port's TIME_WAIT leftover from an earlier connection does not make
// it busy. POSIX: SO_REUSEADDR (a port another socket is bound to or listens
// on stays refused). Windows: nothing, since SO_REUSEADDR there would let
// the bind share a port another socket is using.
int allowClientPortReuse(NativeSocket s) noexcept;

// SO_BROADCAST on or off, so datagrams may go to 255.255.255.255.
int setBroadcast(NativeSocket s, bool on) noexcept;

}  // namespace qelrpc::platform
