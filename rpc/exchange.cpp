// The UDP and TCP exchanges: one prepared call out of the request block, the
// raw reply into the reply block, on a socket that lives for this exchange
// only and is closed on every path.
//
// The message in the request block starts with the 4-byte record-mark slot;
// UDP sends what follows it, TCP fills it with the record mark (RFC 5531
// section 11: bit 31 = last fragment, bits 0-30 = fragment length) and sends
// it along. TCP reply fragments land back to back at the start of the reply
// block, without their marks.
#include <algorithm>
#include <chrono>

#include "platform/host.h"
#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/connect.h"
#include "rpc/deadline.h"
#include "rpc/exchange.h"
#include "rpc/exchange_limits.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;
using namespace qelrpc::platform;

namespace {

using deadline::after;
using deadline::Clock;
using deadline::microsUntil;


// The prepared call: header.count + data.count bytes from the block's start,
// the first 4 of them the record-mark slot, an xid behind it. Anything else
// is a request that was never prepared, and nothing is sent.
bool requestLength(const RpcOperation& op, uint32_t& total) {
    const Mbuf& req = op.request;
    const uint64_t n = uint64_t{req.header.count} + req.data.count;
    if (req.block.pos == nullptr || n < 8 || n > req.block.limit) return false;
    total = static_cast<uint32_t>(n);
    return true;
}

bool replyBlockUsable(const RpcOperation& op) { return op.reply.block.pos != nullptr && op.reply.block.limit != 0; }

// The two bounds of a TCP exchange after its connect: no silence longer than
// the silence limit, and the whole send and reply within the exchange's
// deadline (a peer that trickles a byte now and then never goes silent).
struct TcpBounds {
    uint64_t silenceMicros;
    Clock::time_point deadline;

    // The end of a wait that starts now.
    Clock::time_point waitEnd() const {
        return std::min(after(silenceMicros), deadline);
    }
};

// Waits until s is readable: 0, -1 when the silence limit or the exchange's
// deadline passed first, or the wait's own failure.
int waitReadable(NativeSocket s, const TcpBounds& bounds) {
    const auto deadline = bounds.waitEnd();
    for (;;) {
        const uint64_t left = microsUntil(deadline);
        if (left == 0) return status::kExchangeTimeout;
        unsigned ready = 0;
        const int rc = waitFor(s, kReadable, left, ready);
        if (rc != 0 || ready != 0) return rc;
    }
}

// Reads exactly n bytes; every wait for more is bounded by the silence limit
// and the exchange's deadline, so a peer that stalls half-way cannot hold the
// exchange. With waitFirst false the bytes are taken at once when they are
// already there (the body behind a mark usually is), saving a wait.
// 0; -1 silence or deadline; kDisconnected when the peer closes first; a
// socket error.
int receiveExactly(NativeSocket s, uint8_t* to, uint32_t n, const TcpBounds& bounds, bool waitFirst) {
    uint32_t have = 0;
    bool mustWait = waitFirst;
    while (have < n) {
        if (mustWait) {
            const int rc = waitReadable(s, bounds);
            if (rc != 0) return rc;
        }
        std::size_t got = 0;
        const int rc = receiveBytes(s, to + have, n - have, got);
        if (rc == sockerr::kWouldBlock) {
            mustWait = true;
            continue;
        }
        if (rc != 0) return rc;
        if (got == 0) return sockerr::kDisconnected;
        have += static_cast<uint32_t>(got);
        mustWait = false;
    }
    return 0;
}

// Sends all n bytes, each wait for room bounded by the silence limit and the
// exchange's deadline; a server that takes too little of the request in
// time is WSAETIMEDOUT, as the connect's own timeout is.
int sendAll(NativeSocket s, const uint8_t* from, uint32_t n, const TcpBounds& bounds) {
    uint32_t done = 0;
    while (done < n) {
        std::size_t sent = 0;
        const int rc = sendBytes(s, from + done, n - done, sent);
        if (rc == 0) {
            done += static_cast<uint32_t>(sent);
            continue;
        }
        if (rc != sockerr::kWouldBlock) return rc;
        const uint64_t left = microsUntil(bounds.waitEnd());
        if (left == 0) return sockerr::kTimedOut;
        unsigned ready = 0;
        const int w = waitFor(s, kWritable, left, ready);
        if (w != 0) return w;
        if (ready == 0) return sockerr::kTimedOut;
    }
    return 0;
}

}  // namespace

namespace qelrpc::exchange {

int udpExchange(RpcOperation& op) noexcept {
    uint32_t total = 0;
    if (!requestLength(op, total) || !replyBlockUsable(op)) return status::kInvalidParameter;
    Mbuf& reply = op.reply;
    reply.block.count = 0;

    Socket s;
    int rc = openSocket(SocketType::Datagram, s, true);
    if (rc != 0) return rc;
    const Endpoint server{op.hostAddr, op.udpPort};

    const uint8_t* msg = op.request.block.pos + 4;
    const uint32_t msgLen = total - 4;
    const uint32_t xid = wire::loadWord(msg);
    const exchange::Limits lim = exchange::limits();

    for (unsigned sends = 0; sends < lim.udpSends; ++sends) {
        std::size_t sent = 0;
        rc = sendDatagram(s.get(), msg, msgLen, server, sent);
        if (rc != 0) return rc;
        const auto deadline = after(lim.udpWaitMicros);
        for (;;) {
            const uint64_t left = microsUntil(deadline);
            if (left == 0) break;  // this transmission timed out
            unsigned ready = 0;
            if (waitFor(s.get(), kReadable, left, ready) == 0 && ready == 0) continue;
            std::size_t got = 0;
            rc = receiveDatagram(s.get(), reply.block.pos, reply.block.limit, got, nullptr);
            if (rc == sockerr::kWouldBlock) continue;
            if (rc != 0) return rc;
            // Only the answer to this call is the reply; a stray or forged
            // datagram is dropped and the wait goes on in the same schedule.
            if (got < 4 || wire::loadWord(reply.block.pos) != xid) continue;
            reply.block.count = static_cast<uint32_t>(got);
            return status::kOk;
        }
    }
    return status::kExchangeTimeout;
}

int tcpExchange(RpcOperation& op) noexcept {
    if (op.hostAddr == 0) return status::kNoServerAddress;
    uint32_t total = 0;
    if (!requestLength(op, total) || !replyBlockUsable(op)) return status::kInvalidParameter;
    Mbuf& reply = op.reply;
    reply.block.count = 0;

    Socket s;
    // Non-blocking throughout: the connect is polled for the cancel flag,
    // and every wait of the send and receive is bounded.
    int rc = openSocket(SocketType::Stream, s, true);
    if (rc != 0) return rc;
    const bool async = op.flags != 0;
    rc = exchange::connectTcp(s.get(), Endpoint{op.hostAddr, op.tcpPort}, async ? op.asyncWindow : nullptr,
                              async ? op.cancelFlag : nullptr);
    if (rc != 0) return rc;

    // The request always goes out as one last fragment. From here on the
    // exchange has its deadline; the connect before it is bounded by the
    // system and the cancel flag.
    wire::storeWord(op.request.block.pos, wire::lastFragmentMark(total - 4));
    const exchange::Limits lim = exchange::limits();
    const TcpBounds bounds{lim.tcpSilenceMicros, after(lim.tcpExchangeMicros)};
    rc = sendAll(s.get(), op.request.block.pos, total, bounds);
    if (rc != 0) return rc;

    // Fragments back to back from the block's start. The mark is read aside,
    // so even a block filled to its last byte is never written past.
    const uint32_t room = reply.block.limit;
    uint32_t have = 0;
    for (uint32_t fragments = 0;; ++fragments) {
        if (fragments == wire::kMaxRecordFragments) return sockerr::kMessageSize;
        // Fragments that are already there are read without a wait; the
        // deadline holds for them too.
        if (Clock::now() >= bounds.deadline) return status::kExchangeTimeout;
        uint8_t mark[4];
        // The reply's first bytes are awaited; later ones are usually there.
        rc = receiveExactly(s.get(), mark, 4, bounds, fragments == 0);
        if (rc != 0) return rc;
        const uint32_t word = wire::loadWord(mark);
        const uint32_t length = wire::fragmentLength(word);
        if (length > room - have) return sockerr::kMessageSize;
        rc = receiveExactly(s.get(), reply.block.pos + have, length, bounds, false);
        if (rc != 0) return rc;
        have += length;
        reply.block.count = have;
        if (wire::isLastFragment(word)) break;
    }
    return status::kOk;
}

uint32_t getHostIp(const char* name) noexcept {
    // The resolver's "cannot" is 0; callers of this function know 0xFFFFFFFF.
    const uint32_t a = platform::resolveIPv4(name);
    return a == 0 ? 0xFFFFFFFFu : a;
}

}  // namespace qelrpc::exchange

extern "C" {

uint32_t GetHostIP(const char* name, int /*reserved*/) { return exchange::getHostIp(name); }

// The exchanges allocate nothing: no exception can reach these.
int DoUDPRPCGram(RpcOperation* op, int /*reserved*/) {
    return op == nullptr ? status::kNullRecord : exchange::udpExchange(*op);
}

int DoTCPRPCGram(RpcOperation* op) { return op == nullptr ? status::kNullRecord : exchange::tcpExchange(*op); }

void rpcSetAsyncOperation(RpcOperation* op, int enable, RpcWindow window, int* cancelFlag) {
    if (op == nullptr) return;
    if (enable != 0) {
        op->flags |= RPC_OP_FLAG_ASYNC;
        op->cancelFlag = cancelFlag;
    } else {
        op->flags &= ~RPC_OP_FLAG_ASYNC;
        op->cancelFlag = nullptr;
    }
    op->asyncWindow = window;
}

}  // extern "C"
