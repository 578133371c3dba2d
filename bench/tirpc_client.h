// SPDX-License-Identifier: MIT
// libtirpc's client side for the call benchmarks, reached through dlopen
// like the rest of bench/tirpc.h: clients per call or kept, a null call,
// and pmap_getport.
#pragma once

#include <cstdint>

namespace bench::tirpc {

struct Client;

// addr in network byte order, port in host byte order. Null on failure.
// By default libtirpc makes its own socket and, run as root, binds it to a
// reserved port first (bindresvport; no SO_REUSEADDR, so ports left in
// TIME_WAIT by earlier clients are busy, and when all are, it connects from
// an ephemeral port after the failed search). plainConnect: the benchmark
// connects a socket plainly, as an unprivileged caller's client does, and
// hands it over (closed with the client). UDP ownSocket: a socket bound to
// an ephemeral port is handed over.
Client* newTcpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool plainConnect = false);
Client* newUdpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool ownSocket = false);
// Procedure 0 with no arguments and no results; true on RPC_SUCCESS.
bool nullCall(Client* c);
void deleteClient(Client* c);

// The portmapper's answer for the program (prot 6 or 17), 0 when none.
uint16_t pmapGetPort(uint32_t addr, unsigned prog, unsigned vers, unsigned prot);

}  // namespace bench::tirpc
