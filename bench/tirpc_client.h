// libtirpc's client side for the call benchmarks, reached through dlopen
// like the rest of bench/tirpc.h: clients per call or kept, a null call,
// and pmap_getport.
#pragma once

#include <cstdint>

namespace bench::tirpc {

struct Client;

// addr in network byte order, port in host byte order. Null on failure.
// libtirpc makes its own socket and, run as root, binds it to a reserved
// port first (bindresvport), which dominates a client per call; with
// ownSocket the benchmark hands it a socket bound to an ephemeral port
// (closed with the client): a client per call without that search.
Client* newTcpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool ownSocket = false);
Client* newUdpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool ownSocket = false);
// Procedure 0 with no arguments and no results; true on RPC_SUCCESS.
bool nullCall(Client* c);
void deleteClient(Client* c);

// The portmapper's answer for the program (prot 6 or 17), 0 when none.
uint16_t pmapGetPort(uint32_t addr, unsigned prog, unsigned vers, unsigned prot);

}  // namespace bench::tirpc
