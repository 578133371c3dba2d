// SPDX-License-Identifier: MIT
// The listening endpoint; the accept loop that serves it is
// server/accept_loop.cpp.
#include <cstring>

#include "platform/host.h"
#include "platform/socket_options.h"
#include "platform/sockets.h"
#include "server/server.h"
#include "server/server_status.h"
#include "xdr/wire.h"

namespace qelrpc::server {
using namespace server::status;

namespace {

// Clears the operation and opens a socket for the endpoint; the address is
// chosen by the caller of this (the host name's or one given).
int openEndpoint(RpcOperation& op, uint16_t port) noexcept {
    std::memset(&op, 0, sizeof op);
    op.udpPort = port;
    op.sock = RPC_INVALID_SOCKET;

    platform::Socket s;
    if (platform::openSocket(platform::SocketType::Stream, s) != 0) return kStartNoSocket;
    // No SO_LINGER here: accepted connections would inherit it. The loop
    // chooses per connection between an orderly and an abortive close.
    platform::claimListeningAddress(s.get());
    op.sock = s.release();
    return 0;
}

int bindAndListen(RpcOperation& op, uint32_t addr, uint16_t port) noexcept {
    op.localAddr.family = 2;  // AF_INET
    op.localAddr.port = wire::toNetwork16(port);
    op.localAddr.addr = addr;
    if (platform::bindTo(op.sock, platform::Endpoint{addr, port}) != 0) return kStartBind;

    platform::Endpoint bound;
    if (platform::localEndpoint(op.sock, bound) != 0) return kStartLocalName;
    op.localAddr.addr = bound.addr;
    op.localAddr.port = wire::toNetwork16(bound.port);

    // The longest queue the system allows: a burst of clients waits there
    // for the loop's next turn, not dropped.
    if (platform::listenOn(op.sock, platform::maxListenBacklog()) != 0) return kStartListen;
    return 0;
}

}  // namespace

int initServerOperation(RpcOperation& op, uint16_t port) noexcept {
    if (const int rc = openEndpoint(op, port); rc != 0) return rc;

    // The endpoint listens on the host's primary address, not on every
    // interface.
    char name[512];
    if (!platform::localHostName(name, sizeof name) || name[0] == '\0') return kStartNoHostAddress;
    const uint32_t addr = platform::resolveIPv4(name);
    if (addr == 0) return kStartNoHostAddress;
    return bindAndListen(op, addr, port);
}

int initServerOperationAt(RpcOperation& op, uint32_t address, uint16_t port) noexcept {
    // No host name look-up: the caller said where to listen (0 is every
    // interface), so a host whose name does not resolve starts at once.
    if (const int rc = openEndpoint(op, port); rc != 0) return rc;
    return bindAndListen(op, address, port);
}

}  // namespace qelrpc::server

extern "C" int rpcInitServerOperation(RpcOperation* op, uint16_t port) {
    return op == nullptr ? qelrpc::server::status::kStartNull : qelrpc::server::initServerOperation(*op, port);
}

extern "C" int rpcInitServerOperationAt(RpcOperation* op, uint32_t address, uint16_t port) {
    return op == nullptr ? qelrpc::server::status::kStartNull
                         : qelrpc::server::initServerOperationAt(*op, address, port);
}

extern "C" int rpcAcceptIncoming(RpcOperation* listening, RpcCallHandler handler) {
    if (listening == nullptr || handler == nullptr) return qelrpc::server::status::kAcceptNull;
    return qelrpc::server::acceptIncoming(*listening, handler);
}
