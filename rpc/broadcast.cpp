// SPDX-License-Identifier: MIT
// Broadcast calls: one prepared call as a single datagram to the limited
// broadcast address 255.255.255.255, and the good answers of every server.
// An answer counts when it carries the call's xid, passes the reply check
// and its results begin with a nonzero word.
//
// A wait is a deadline, not a timer restarted by every datagram: anyone on
// the network can send datagrams to the broadcast's port, and one that keeps
// sending must not keep the broadcast going. rpcBroadcastUDP's deadline is
// one wait after the start and after each good answer; a read-next's is one
// wait after it was called.
#include <cstring>

#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "platform/status_table.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/deadline.h"
#include "rpc/exchange.h"
#include "rpc/operation.h"
#include "xdr/wire.h"
#include "xdr/xdr_codec.h"

using namespace qelrpc;

namespace {

QELRPC_STATUS_BROADCAST(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr uint16_t kPortmapperPort = 111;
constexpr RpcTimeValue kDefaultWait{25, 0};

using deadline::Clock;
using deadline::after;
using deadline::microsUntil;

// Datagrams read past a deadline, while they are already queued: an answer
// that arrived in time is not lost to the clock, and a flood cannot hold the
// call beyond this many.
constexpr int kQueuedAfterDeadline = 256;

uint64_t micros(const RpcTimeValue& t) {
    const int64_t us = int64_t{t.seconds} * 1000000 + t.microseconds;
    return us > 0 ? static_cast<uint64_t>(us) : 0;
}

// The xid of the prepared call, behind the record-mark slot. False when
// there is no call to answer or no block to read an answer into: nothing
// could ever be read, so the caller refuses at once.
bool readyToReceive(const RpcOperation& op, uint32_t& xid) {
    const Mbuf& req = op.request;
    if (req.block.pos == nullptr || req.block.limit < 8 || req.header.count < 8) return false;
    if (op.reply.block.pos == nullptr || op.reply.block.limit == 0) return false;
    xid = wire::loadWord(req.block.pos + 4);
    return true;
}

RpcSockAddrIn toSockAddr(const platform::Endpoint& e) {
    RpcSockAddrIn a{};
    a.family = 2;  // AF_INET
    a.port = wire::toNetwork16(e.port);
    a.addr = e.addr;
    return a;
}

// The call message without its record-mark slot.
bool sendCall(const RpcOperation& op, platform::NativeSocket s, uint16_t port) {
    const Mbuf& req = op.request;
    const uint64_t total = uint64_t{req.header.count} + req.data.count;
    if (req.block.pos == nullptr || total < 4 || total > req.block.limit) return false;
    std::size_t sent = 0;
    return platform::sendDatagram(s, req.block.pos + 4, static_cast<std::size_t>(total - 4),
                                  platform::Endpoint{kLimitedBroadcast, port}, sent) == 0 &&
           sent == total - 4;
}

// A socket ready to broadcast: non-blocking, SO_BROADCAST on.
bool openBroadcastSocket(platform::Socket& s) {
    if (platform::openSocket(platform::SocketType::Datagram, s) != 0) return false;
    platform::setNonBlocking(s.get(), true);
    return platform::setBroadcast(s.get(), true) == 0;
}

enum class Next { Good, Dropped, Failed, Ended };

// Receives one datagram into the reply block and checks it; on Good the
// reply's data window stands behind the leading nonzero word.
Next receiveAnswer(RpcOperation& op, platform::NativeSocket s, uint32_t xid, RpcSockAddrIn* sender) {
    Mbuf& rep = op.reply;
    if (rep.block.pos == nullptr) return Next::Failed;
    std::size_t got = 0;
    platform::Endpoint from;
    const int rc = platform::receiveDatagram(s, rep.block.pos, rep.block.limit, got, &from);
    if (rc != 0 && rc != platform::sockerr::kMessageSize) return Next::Failed;
    if (sender != nullptr) *sender = toSockAddr(from);
    if (rc != 0) return Next::Dropped;  // longer than the block: not an answer we can read
    // Replies come from any address (every server answers, some from an
    // address other than the one the call reached); the xid is what ties an
    // answer to this call.
    if (got < 4 || wire::loadWord(rep.block.pos) != xid) return Next::Dropped;
    rep.block.count = static_cast<uint32_t>(got);
    if (rpc::processResponse(op) != 0) return Next::Dropped;
    // The leading boolean word, read by the library's own routine.
    uint32_t leading = 0;
    if (!xdr::u32(&rep.data, XDR_OP_DECODE, &leading) || leading == 0) return Next::Dropped;
    return Next::Good;
}

// Reads datagrams until a good answer (Good), until `deadline` has passed and
// the datagrams already queued are read (Ended), or until the wait fails
// (Failed). A failed receive is Failed when failedReceiveEnds, else dropped.
Next nextAnswer(RpcOperation& op, platform::NativeSocket s, uint32_t xid, Clock::time_point deadline,
                RpcSockAddrIn* sender, bool failedReceiveEnds) {
    for (int pastDeadline = 0;;) {
        const uint64_t left = microsUntil(deadline);
        if (left == 0 && ++pastDeadline > kQueuedAfterDeadline) return Next::Ended;
        unsigned ready = 0;
        if (platform::waitFor(s, platform::kReadable, left, ready) != 0) return Next::Failed;
        if (ready == 0) return Next::Ended;
        const Next n = receiveAnswer(op, s, xid, sender);
        if (n == Next::Good || (n == Next::Failed && failedReceiveEnds)) return n;
    }
}

}  // namespace

extern "C" {

int rpcBroadcastUDP(RpcOperation* op, BroadcastReplyProc replyProc, const RpcTimeValue* timeout, int value) {
    if (op == nullptr || replyProc == nullptr) return kNullArgument;
    uint32_t xid = 0;
    // Without a reply block no datagram could be read, and the socket would
    // stay readable: refuse before anything is sent.
    if (!readyToReceive(*op, xid)) return kSocketFailure;
    const uint64_t wait = micros(timeout != nullptr ? *timeout : kDefaultWait);

    platform::Socket s;
    if (!openBroadcastSocket(s)) return kSocketFailure;
    if (!sendCall(*op, s.get(), op->udpPort)) return kSocketFailure;

    // One full wait from the start and from each good answer; other
    // datagrams, and a failed receive, are dropped without moving it.
    Next n;
    for (;;) {
        RpcSockAddrIn sender{};
        n = nextAnswer(*op, s.get(), xid, after(wait), &sender, false);
        if (n != Next::Good) break;
        if (replyProc(&sender, op, value) != 0) break;
    }
    bool failed = n == Next::Failed;
    if (platform::setBroadcast(s.get(), false) != 0) failed = true;
    return failed ? kSocketFailure : kEnded;
}

int rpcBroadcastStart(RpcOperation* op) {
    if (op == nullptr) return kNullArgument;
    // sock is about to hold the broadcast socket, which the caller closes: a
    // kept connection there is closed first and the operation keeps none.
    exchange::closeKept(*op);
    op->sock = RPC_INVALID_SOCKET;
    platform::Socket s;
    if (!openBroadcastSocket(s) || !sendCall(*op, s.get(), kPortmapperPort)) {
        operation::close(*op);
        std::memset(op, 0, sizeof *op);
        // Cleared, but never holding socket 0: that is a real descriptor
        // (standard input on POSIX) a later read-next or close would touch.
        op->sock = RPC_INVALID_SOCKET;
        return kSocketFailure;
    }
    op->sock = s.release();
    return 0;
}

int rpcBroadcastReadNext(RpcOperation* op, const RpcTimeValue* timeout, RpcSockAddrIn* sender) {
    if (op == nullptr || timeout == nullptr || sender == nullptr) return kNullArgument;
    if (op->sock == RPC_INVALID_SOCKET) return kSocketFailure;
    uint32_t xid = 0;
    if (!readyToReceive(*op, xid)) return kSocketFailure;
    // The wait is measured from this call: datagrams that are no good answer
    // are dropped without restarting it.
    const Next n = nextAnswer(*op, op->sock, xid, after(micros(*timeout)), sender, true);
    if (n == Next::Good) return 0;
    return n == Next::Ended ? kEnded : kSocketFailure;
}

}  // extern "C"
