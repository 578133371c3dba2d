// Broadcast calls: one prepared call as a single datagram to the limited
// broadcast address 255.255.255.255, and the good answers of every server.
// An answer counts when it passes the reply check and its results begin
// with a nonzero word.
#include <cstring>

#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "xdr/xdr_codec.h"

using namespace qelrpc;

namespace {

constexpr int kNullArgument = -300;
constexpr int kSocketFailure = -301;
constexpr int kEnded = -302;

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
constexpr uint16_t kPortmapperPort = 111;
constexpr RpcTimeValue kDefaultWait{25, 0};

uint64_t micros(const RpcTimeValue& t) {
    const int64_t us = int64_t{t.seconds} * 1000000 + t.microseconds;
    return us > 0 ? static_cast<uint64_t>(us) : 0;
}

RpcSockAddrIn toSockAddr(const platform::Endpoint& e) {
    RpcSockAddrIn a{};
    a.family = 2;  // AF_INET
    a.port = static_cast<uint16_t>((e.port >> 8) | (e.port << 8));
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

enum class Next { Good, Dropped, Failed };

// Receives one datagram into the reply block and checks it; on Good the
// reply's data window stands behind the leading nonzero word.
Next receiveAnswer(RpcOperation& op, platform::NativeSocket s, RpcSockAddrIn* sender) {
    Mbuf& rep = op.reply;
    if (rep.block.pos == nullptr) return Next::Failed;
    std::size_t got = 0;
    platform::Endpoint from;
    const int rc = platform::receiveDatagram(s, rep.block.pos, rep.block.limit, got, &from);
    if (rc != 0 && rc != platform::sockerr::kMessageSize) return Next::Failed;
    if (sender != nullptr) *sender = toSockAddr(from);
    if (rc != 0) return Next::Dropped;  // longer than the block: not an answer we can read
    rep.block.count = static_cast<uint32_t>(got);
    if (ProcessRPCResponse(&op) != 0) return Next::Dropped;
    // The leading boolean word, read by the library's own routine.
    uint32_t leading = 0;
    if (!xdr::u32(&rep.data, XDR_OP_DECODE, &leading) || leading == 0) return Next::Dropped;
    return Next::Good;
}

}  // namespace

extern "C" {

int rpcBroadcastUDP(RpcOperation* op, BroadcastReplyProc replyProc, const RpcTimeValue* timeout, int value) {
    if (op == nullptr || replyProc == nullptr) return kNullArgument;
    const uint64_t wait = micros(timeout != nullptr ? *timeout : kDefaultWait);

    platform::Socket s;
    if (!openBroadcastSocket(s)) return kSocketFailure;
    if (!sendCall(*op, s.get(), op->udpPort)) return kSocketFailure;

    bool failed = false;
    for (;;) {
        unsigned ready = 0;
        // Each wait starts afresh: the broadcast ends one full wait after
        // the last datagram.
        if (platform::waitFor(s.get(), platform::kReadable, wait, ready) != 0) {
            failed = true;
            break;
        }
        if (ready == 0) break;
        RpcSockAddrIn sender{};
        const Next n = receiveAnswer(*op, s.get(), &sender);
        if (n != Next::Good) continue;  // dropped silently, and so is a failed receive
        if (replyProc(&sender, op, value) != 0) break;
    }
    if (platform::setBroadcast(s.get(), false) != 0) failed = true;
    return failed ? kSocketFailure : kEnded;
}

int rpcBroadcastStart(RpcOperation* op) {
    if (op == nullptr) return kNullArgument;
    op->sock = RPC_INVALID_SOCKET;
    platform::Socket s;
    if (!openBroadcastSocket(s) || !sendCall(*op, s.get(), kPortmapperPort)) {
        s.close();
        rpcCloseOperation(op);
        std::memset(op, 0, sizeof *op);
        return kSocketFailure;
    }
    op->sock = s.release();
    return 0;
}

int rpcBroadcastReadNext(RpcOperation* op, const RpcTimeValue* timeout, RpcSockAddrIn* sender) {
    if (op == nullptr || timeout == nullptr || sender == nullptr) return kNullArgument;
    if (op->sock == RPC_INVALID_SOCKET) return kSocketFailure;
    const uint64_t wait = micros(*timeout);
    for (;;) {
        unsigned ready = 0;
        if (platform::waitFor(op->sock, platform::kReadable, wait, ready) != 0) return kSocketFailure;
        if (ready == 0) return kEnded;
        switch (receiveAnswer(*op, op->sock, sender)) {
            case Next::Good: return 0;
            case Next::Failed: return kSocketFailure;
            case Next::Dropped: break;
        }
    }
}

}  // extern "C"
