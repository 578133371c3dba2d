// The listening endpoint and the accept loop: one connection and one call at
// a time, on the caller's thread. Each call gets a fresh operation (its
// blocks kept from call to call, server/call_blocks.h); the caller's handler
// answers it and says what to do with the connection.
#include <cstring>

#include "platform/host.h"
#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "platform/sockets.h"
#include "server/call_blocks.h"
#include "server/record_io.h"
#include "server/server.h"
#include "server/server_status.h"
#include "xdr/wire.h"

namespace qelrpc::server {
namespace {

using namespace server::status;

enum Action { kStop = 0, kKeepConnection = 1, kNextConnection = 2 };

}  // namespace

int initServerOperation(RpcOperation& op, uint16_t port) noexcept {
    std::memset(&op, 0, sizeof op);
    op.udpPort = port;
    op.sock = RPC_INVALID_SOCKET;

    platform::Socket s;
    if (platform::openSocket(platform::SocketType::Stream, s) != 0) return kStartNoSocket;
    // No SO_LINGER here: accepted connections would inherit it. The loop
    // chooses per connection between an orderly and an abortive close.
    platform::claimListeningAddress(s.get());
    op.sock = s.release();

    // The endpoint listens on the host's primary address, not on every
    // interface.
    char name[512];
    if (!platform::localHostName(name, sizeof name) || name[0] == '\0') return kStartNoHostAddress;
    const uint32_t addr = platform::resolveIPv4(name);
    if (addr == 0) return kStartNoHostAddress;

    op.localAddr.family = 2;  // AF_INET
    op.localAddr.port = wire::toNetwork16(port);
    op.localAddr.addr = addr;
    if (platform::bindTo(op.sock, platform::Endpoint{addr, port}) != 0) return kStartBind;

    platform::Endpoint bound;
    if (platform::localEndpoint(op.sock, bound) != 0) return kStartLocalName;
    op.localAddr.addr = bound.addr;
    op.localAddr.port = wire::toNetwork16(bound.port);

    // The longest queue the system allows: the loop accepts one connection
    // at a time, and a burst of clients must wait there, not be dropped.
    if (platform::listenOn(op.sock, platform::maxListenBacklog()) != 0) return kStartListen;
    return 0;
}

int acceptIncoming(RpcOperation& listening, RpcCallHandler handler) {
    platform::Socket conn;
    CallBlocks blocks;
    for (;;) {
        if (!conn.valid()) {
            if (platform::acceptFrom(listening.sock, conn, nullptr) != 0) return kAcceptFailed;
            // Non-blocking, so every read and write of the connection is
            // bounded in time (server/record_io.cpp).
            platform::setNonBlocking(conn.get(), true);
        }

        RpcOperation call;
        std::memset(&call, 0, sizeof call);
        if (blocks.lend(call) != 0) {
            // No memory for this call: drop the connection, keep serving.
            server::closeAbortively(conn);
            continue;
        }

        const int received = server::receiveRecord(call, conn.get());
        if (received != 0) {
            // (A fragment cut short may have left bytes past the count.)
            call.request.block.count = call.request.block.limit;
            blocks.takeBack(call);
            // The client closed: nothing of ours is pending, and it keeps
            // the TIME_WAIT. Reset, stalled or too long: given up on.
            if (received == platform::sockerr::kDisconnected) conn.close();
            else server::closeAbortively(conn);
            continue;
        }

        uint32_t xid = 0;
        const int check = processCall(call, xid);
        if (check != 0) {
            // A call that cannot be read never reaches the handler. One of
            // another RPC version is answered MSG_DENIED / RPC_MISMATCH with
            // the versions this side speaks (RFC 5531), and its connection
            // stays.
            if (check == kBadRpcVersion) {
                const bool sent = writeRpcMismatchHeader(call.reply, xid) && replyRpc(call, conn.get()) == 0;
                server::takeReplyFailed(conn.get());
                blocks.takeBack(call);
                if (!sent) server::closeAbortively(conn);
                continue;
            }
            blocks.takeBack(call);
            server::closeAbortively(conn);
            continue;
        }

        call.userData = listening.userData;
        server::takeReplyFailed(conn.get());
        const int action = handler(&call, conn.get(), xid);
        blocks.takeBack(call);

        if (server::takeReplyFailed(conn.get())) {
            // The client does not take its replies: given up on.
            server::closeAbortively(conn);
            if (action == kStop) return 0;
            continue;
        }
        if (action == kKeepConnection) continue;
        server::closeGracefully(conn);
        if (action == kStop) return 0;
        // kNextConnection, and any answer the loop does not know, end this
        // connection only.
    }
}

}  // namespace qelrpc::server

extern "C" int rpcInitServerOperation(RpcOperation* op, uint16_t port) {
    return op == nullptr ? qelrpc::server::status::kStartNull : qelrpc::server::initServerOperation(*op, port);
}

extern "C" int rpcAcceptIncoming(RpcOperation* listening, RpcCallHandler handler) {
    if (listening == nullptr || handler == nullptr) return qelrpc::server::status::kAcceptNull;
    return qelrpc::server::acceptIncoming(*listening, handler);
}
