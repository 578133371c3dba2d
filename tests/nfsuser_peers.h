// SPDX-License-Identifier: MIT
// The real peers of the user-service tests, started inside the test's own
// network namespace: Debian's rpcbind, the libtirpc test daemons (PCNFSD
// version 2 and Qelnfsd version 1) and the reference daemon.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "child_process.h"
#include "port_probe.h"

namespace nfspeers {

// rpcbind on port 111 of the namespace; false when it is not installed or
// does not come up within 10 seconds.
inline bool startRpcbind(testproc::Child& rpcbind) {
    if (access("/usr/sbin/rpcbind", X_OK) != 0) return false;
    if (!rpcbind.start({"/usr/sbin/rpcbind", "-f", "-w"})) return false;
    return portprobe::waitFor(111, std::chrono::seconds(10));
}

#ifdef TIRPC_DAEMONS
// The libtirpc daemons in mode both, tcp or udp; false unless they report
// ready within 10 seconds.
inline bool startTirpcDaemons(testproc::Child& d, const char* mode) {
    if (!d.start({TIRPC_DAEMONS, mode})) return false;
    std::string line;
    return d.readLine(line, std::chrono::seconds(10)) && line.rfind("ready", 0) == 0;
}

#endif

#ifdef QELRPC_REFD_PATH
// The reference daemon on the library's server side (TCP); its port.
inline uint16_t startRefDaemon(testproc::Child& d) {
    if (!d.start({QELRPC_REFD_PATH, "--accounts", QELRPC_REFD_ACCOUNTS})) return 0;
    std::string line;
    if (!d.readLine(line, std::chrono::seconds(10))) return 0;
    const auto at = line.find(" port ");
    return at == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(line.substr(at + 6)));
}

#endif

}  // namespace nfspeers
