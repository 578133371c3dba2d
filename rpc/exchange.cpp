// The UDP and TCP exchanges: one prepared call out of the request block, the
// raw reply into the reply block, on a socket that lives for this exchange
// only. The message in the request block starts with the 4-byte record-mark
// slot; UDP sends what follows it, TCP sends it as one record
// (rpc/record_marking.h) and reads the reply record into the reply block.
#include "platform/host.h"
#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/connect.h"
#include "rpc/deadline.h"
#include "rpc/exchange.h"
#include "rpc/exchange_limits.h"
#include "rpc/record_marking.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;
using namespace qelrpc::platform;

namespace {

using deadline::after;

// The prepared call is header.count + data.count bytes from the block's
// start, the first 4 of them the record-mark slot, an xid behind it; anything
// else was never prepared, and nothing is sent (kInvalidParameter, as for a
// reply block without room). The socket is non-blocking: the connect is
// polled for the cancel flag, and every wait is bounded.
int start(RpcOperation& op, SocketType type, uint32_t& total, Socket& s) {
    const MbufCursor& block = op.request.block;
    const uint64_t n = uint64_t{op.request.header.count} + op.request.data.count;
    if (block.pos == nullptr || n < 8 || n > block.limit || op.reply.block.pos == nullptr || op.reply.block.limit == 0)
        return status::kInvalidParameter;
    total = static_cast<uint32_t>(n);
    op.reply.block.count = 0;
    return openSocket(type, s, true);
}

}  // namespace

namespace qelrpc::exchange {

int udpExchange(RpcOperation& op) noexcept {
    uint32_t total = 0;
    Socket s;
    int rc = start(op, SocketType::Datagram, total, s);
    if (rc != 0) return rc;
    Mbuf& reply = op.reply;
    const Endpoint server{op.hostAddr, op.udpPort};

    const uint8_t* msg = op.request.block.pos + 4;
    const uint32_t msgLen = total - 4;
    const uint32_t xid = wire::loadWord(msg);
    const exchange::Limits lim = exchange::limits();

    for (unsigned sends = 0; sends < lim.udpSends; ++sends) {
        std::size_t sent = 0;
        rc = sendDatagram(s.get(), msg, msgLen, server, sent);
        if (rc != 0) return rc;
        // Until this transmission times out:
        const auto deadline = after(lim.udpWaitMicros);
        while (record::waitUntil(s.get(), kReadable, deadline) != sockerr::kTimedOut) {
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
    Socket s;
    int rc = start(op, SocketType::Stream, total, s);
    if (rc != 0) return rc;
    const bool async = op.flags != 0;
    rc = exchange::connectTcp(s.get(), Endpoint{op.hostAddr, op.tcpPort}, async ? op.asyncWindow : nullptr,
                              async ? op.cancelFlag : nullptr);
    if (rc != 0) return rc;

    // No silence longer than the silence limit, and the send and the whole
    // reply within the exchange's bound (a peer that trickles a byte now and
    // then never goes silent). A send that runs out is WSAETIMEDOUT, as the
    // connect's own timeout is; a reply that does not come in time is -1.
    const exchange::Limits lim = exchange::limits();
    const auto end = after(lim.tcpExchangeMicros);
    rc = record::sendRecord(s.get(), op.request.block.pos, total, {lim.tcpSilenceMicros, end, sockerr::kTimedOut});
    if (rc != 0) return rc;
    return record::readRecord(s.get(), op.reply.block, {lim.tcpSilenceMicros, end, status::kExchangeTimeout});
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
