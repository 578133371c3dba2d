// SPDX-License-Identifier: MIT
// The UDP and TCP exchanges: one prepared call out of the request block, the
// raw reply into the reply block, on a socket that lives for this exchange
// only, or, when the operation keeps its connection
// (RPC_OP_FLAG_KEEP_CONNECTION), on the socket kept in op.sock. The message
// in the request block starts with the 4-byte record-mark slot; UDP sends
// what follows it, TCP sends it as one record (rpc/record_marking.h) and
// reads the reply record into the reply block.
//
// A kept socket is taken out of the operation for the exchange and handed
// back only after a good one, so every failure closes it. What it is and
// where it leads is remembered beside it when the exchange makes it (the
// kept-socket registry below): a kept call asks the system nothing about
// the socket but whether it has anything to read.
//
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/host.h"
#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/connect.h"
#include "rpc/deadline.h"
#include "rpc/exchange.h"
#include "rpc/exchange_limits.h"
#include "rpc/exchange_observer.h"
#include "rpc/record_marking.h"
#include "rpc/reserved_port.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;
using namespace qelrpc::platform;

namespace {

using deadline::after;

// Records on a kept connection that answer no call of this exchange (a
// server that answered an earlier call twice) are skipped, at most this
// many, within the exchange's time bound.
constexpr unsigned kMaxForeignReplies = 64;

bool keeps(const RpcOperation& op) { return (op.flags & RPC_OP_FLAG_KEEP_CONNECTION) != 0; }
bool reserves(const RpcOperation& op) { return (op.flags & RPC_OP_FLAG_RESERVED_PORT) != 0; }
void setFlag(RpcOperation& op, uint32_t flag, bool on) { op.flags = on ? (op.flags | flag) : (op.flags & ~flag); }

// The kept sockets this library made, by socket: their kind, where a stream
// leads, and the operation holding each. An entry is made when an exchange
// hands a new socket to its operation, and removed before the library
// closes that socket, so a number the system gives out again (to another
// operation's socket, or anyone's) never finds an entry that is not its own:
// a new kept socket with that number replaces the entry, and a socket the
// registry does not know is never reused. Operations run on many threads at
// once, hence the lock; it is held for a look-up only.
//
// What no record kept beside a socket can see is a caller closing an
// operation's kept socket itself (the socket is the operation's) and the
// system giving the number to a connection of its own to the same address
// and port: only asking the system on every call would tell.
struct KeptEntry {
    const RpcOperation* owner;
    SocketType type;
    Endpoint peer;  // a stream's server
};

class KeptRegistry {
  public:
    // The entry of s when op holds it.
    bool find(NativeSocket s, const RpcOperation& op, KeptEntry& out) {
        std::lock_guard<std::mutex> hold(lock_);
        const auto it = entries_.find(s);
        if (it == entries_.end() || it->second.owner != &op) return false;
        out = it->second;
        return true;
    }
    // Without memory the socket goes unremembered: the next call replaces it.
    void remember(NativeSocket s, const KeptEntry& e) noexcept {
        try {
            std::lock_guard<std::mutex> hold(lock_);
            entries_[s] = e;
        } catch (...) {
        }
    }
    // Forgets op's entry for s. False when another operation holds s: then
    // it is not op's to close.
    bool forget(NativeSocket s, const RpcOperation& op) noexcept {
        std::lock_guard<std::mutex> hold(lock_);
        const auto it = entries_.find(s);
        if (it == entries_.end()) return true;
        if (it->second.owner != &op) return false;
        entries_.erase(it);
        return true;
    }

  private:
    std::mutex lock_;
    std::unordered_map<NativeSocket, KeptEntry> entries_;
};

KeptRegistry& registry() {
    static KeptRegistry r;
    return r;
}

// Lets go of a kept socket: forgotten, then closed, unless another
// operation holds its number now (the system gave it out again after this
// operation's socket was closed behind its back): that one is not touched.
void release(RpcOperation& op, Socket& s) {
    if (!s.valid()) return;
    if (registry().forget(s.get(), op)) s.close();
    else s.release();
}

// The operation's socket for one exchange: op.sock when the operation keeps
// its connection (op.sock is left invalid meanwhile), else none yet. What
// is not handed back is let go of (release) on every path.
class ExchangeSocket {
  public:
    explicit ExchangeSocket(RpcOperation& op) : op_(op) {
        if (keeps(op)) {
            s_ = Socket(std::exchange(op.sock, kInvalidSocket));
            reusing_ = s_.valid();
        }
    }
    ~ExchangeSocket() { release(op_, s_); }
    ExchangeSocket(const ExchangeSocket&) = delete;
    ExchangeSocket& operator=(const ExchangeSocket&) = delete;

    Socket& socket() { return s_; }
    NativeSocket get() const { return s_.get(); }
    bool valid() const { return s_.valid(); }
    // The kept socket is one this operation made, of that type and (a
    // stream) to that server: else it is let go of.
    void keepOnlyIf(SocketType type, const Endpoint* server) {
        if (!s_.valid()) return;
        KeptEntry e{};
        if (registry().find(s_.get(), op_, e) && e.type == type &&
            (server == nullptr || (e.peer.addr == server->addr && e.peer.port == server->port)))
            return;
        letGo();
    }
    void letGo() {
        release(op_, s_);
        reusing_ = false;
    }
    // After a good exchange: the operation keeps the socket (a new one is
    // remembered first).
    void handBack(SocketType type, const Endpoint& peer) {
        if (!keeps(op_)) return;
        if (!reusing_) registry().remember(s_.get(), KeptEntry{&op_, type, peer});
        op_.sock = s_.release();
    }

  private:
    RpcOperation& op_;
    Socket s_;
    bool reusing_ = false;  // s_ is the operation's kept socket, known to the registry
};

// A kept TCP connection carries the next call only while it has nothing to
// read: a FIN or reset from the peer, or bytes no call of ours is waiting
// for, mean it is replaced before anything is sent (a zero-time wait, no
// blocking). That it still leads to the same address and port the registry
// says.
bool quiet(NativeSocket s) {
    unsigned ready = 0;
    return waitFor(s, kReadable, 0, ready) == 0 && ready == 0;
}

// The prepared call is header.count + data.count bytes from the block's
// start, the first 4 of them the record-mark slot, an xid behind it; anything
// else was never prepared, and nothing is sent (kInvalidParameter, as for a
// reply block without room). Sockets are non-blocking: the connect is
// polled for the cancel flag, and every wait is bounded.
int prepared(RpcOperation& op, uint32_t& total) {
    const MbufCursor& block = op.request.block;
    const uint64_t n = uint64_t{op.request.header.count} + op.request.data.count;
    if (block.pos == nullptr || n < 8 || n > block.limit || op.reply.block.pos == nullptr || op.reply.block.limit == 0)
        return status::kInvalidParameter;
    total = static_cast<uint32_t>(n);
    op.reply.block.count = 0;
    return status::kOk;
}

// A new connection to the server: from an ephemeral port, or, when the
// operation asks for one (RPC_OP_FLAG_RESERVED_PORT), from a reserved port
// bound before the connect. Only a new connection goes through the
// cancellable connect.
int connectNew(RpcOperation& op, const Endpoint& server, Socket& s) {
    const bool async = (op.flags & RPC_OP_FLAG_ASYNC) != 0;
    RpcWindow window = async ? op.asyncWindow : nullptr;
    int* cancelFlag = async ? op.cancelFlag : nullptr;
    if (!reserves(op)) {
        const int rc = openSocket(SocketType::Stream, s, true);
        return rc != 0 ? rc : exchange::connectTcp(s.get(), server, window, cancelFlag);
    }
    exchange::ReservedPortSearch ports;
    // Bounded by the search: each reserved port is tried at most once.
    for (;;) {
        int rc = openSocket(SocketType::Stream, s, true);
        if (rc != 0) return rc;
        rc = ports.bind(s.get(), SocketType::Stream);
        if (rc != 0) return rc;
        rc = exchange::connectTcp(s.get(), server, window, cancelFlag);
        // The port's TIME_WAIT leftover leads to this very server, so the
        // connection would not be unique: the connect refuses it at once
        // (nothing was sent), and a new socket takes the next port.
        if (rc != sockerr::kAddressNotAvailable) return rc;
        s.close();  // never handed to the operation: nothing remembered
        if (ports.left() == 0) return sockerr::kAddressInUse;
    }
}

int exchangeDatagram(RpcOperation& op, ExchangeSocket& s, uint32_t total) noexcept {
    int rc = 0;
    // A kept UDP socket is tied to no peer (as libtirpc's kept datagram
    // client): any datagram socket this operation made will do, stale
    // datagrams are dropped by xid.
    s.keepOnlyIf(SocketType::Datagram, nullptr);
    if (!s.valid()) {
        rc = openSocket(SocketType::Datagram, s.socket(), true);
        if (rc != 0) return rc;
        // Asked for a reserved source port and none can be had: nothing is
        // sent (never from an ephemeral port instead).
        if (reserves(op)) {
            rc = exchange::ReservedPortSearch().bind(s.get(), SocketType::Datagram);
            if (rc != 0) return rc;
        }
    }
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
            // datagram, or a late answer to an earlier call on a kept
            // socket, is dropped and the wait goes on in the same schedule.
            if (got < 4 || wire::loadWord(reply.block.pos) != xid) continue;
            reply.block.count = static_cast<uint32_t>(got);
            s.handBack(SocketType::Datagram, Endpoint{});
            return status::kOk;
        }
    }
    return status::kExchangeTimeout;
}

int exchangeRecord(RpcOperation& op, ExchangeSocket& s, uint32_t total) noexcept {
    int rc = 0;
    const Endpoint server{op.hostAddr, op.tcpPort};
    s.keepOnlyIf(SocketType::Stream, &server);
    if (s.valid() && !quiet(s.get())) s.letGo();
    if (!s.valid()) {
        rc = connectNew(op, server, s.socket());
        if (rc != 0) return rc;
    }

    // No silence longer than the silence limit, and the send and the whole
    // reply within the exchange's bound (a peer that trickles a byte now and
    // then never goes silent). A send that runs out is WSAETIMEDOUT, as the
    // connect's own timeout is; a reply that does not come in time is -1.
    // Once the call is on its way a failure is reported, never answered by
    // sending it again: a call need not be idempotent.
    const exchange::Limits lim = exchange::limits();
    const auto end = after(lim.tcpExchangeMicros);
    rc = record::sendRecord(s.get(), op.request.block.pos, total, {lim.tcpSilenceMicros, end, sockerr::kTimedOut});
    if (rc != 0) return rc;
    const record::Bounds replyBounds{lim.tcpSilenceMicros, end, status::kExchangeTimeout};
    record::RecordReader reader;
    if (!keeps(op)) return record::readRecord(s.get(), op.reply.block, replyBounds, reader);

    // A fresh connection carries this call alone; a kept one may still bring
    // an answer to an earlier call, which is not this call's reply.
    const uint32_t xid = wire::loadWord(op.request.block.pos + 4);
    // Waiting for the first bytes here spares the reader its try on an
    // empty socket (a system call a kept call is worth saving): the same
    // bounds, the silence limit counted from the send.
    rc = record::waitUnder(s.get(), kReadable, replyBounds);
    if (rc != 0) return rc;
    // The reader takes what is there in one receive, which may reach past
    // the record: a reply to an earlier call ahead of ours is skipped and
    // what came behind it read on from the block's start.
    for (unsigned skipped = 0; skipped <= kMaxForeignReplies; ++skipped) {
        rc = record::readRecord(s.get(), op.reply.block, replyBounds, reader);
        if (rc != 0) return rc;
        if (op.reply.block.count < 4 || wire::loadWord(op.reply.block.pos) == xid) {
            // Bytes behind the reply answer no call (an operation has one
            // call out at a time): a stray record, which the check before
            // the next send would find on the socket and replace the
            // connection for. Taken off the socket with the reply, they
            // mean the same here: the connection is not kept.
            if (reader.buffered() == 0) s.handBack(SocketType::Stream, server);
            return status::kOk;
        }
        reader.carry(op.reply.block, op.reply.block);
    }
    op.reply.block.count = 0;
    return status::kExchangeTimeout;
}

}  // namespace

namespace qelrpc::exchange {

// A prepared call is exchanged and then shown to the thread's observer,
// whatever came of it (the socket already kept or closed); one that was
// never prepared went nowhere and is not. Every failure, these included,
// closes a kept socket.
static int observedExchange(RpcOperation& op, bool tcp,
                            int (*exchange)(RpcOperation&, ExchangeSocket&, uint32_t) noexcept) noexcept {
    uint32_t total = 0;
    int rc;
    {
        ExchangeSocket s(op);
        if (tcp && op.hostAddr == 0) return status::kNoServerAddress;
        rc = prepared(op, total);
        if (rc != 0) return rc;
        rc = exchange(op, s, total);
    }
    observe(op, tcp, total, rc);
    return rc;
}

int udpExchange(RpcOperation& op) noexcept { return observedExchange(op, false, exchangeDatagram); }

int tcpExchange(RpcOperation& op) noexcept { return observedExchange(op, true, exchangeRecord); }

void keepConnection(RpcOperation& op, bool on) noexcept {
    if (on) {
        // Whatever sock held (0 in a cleared record, a broadcast socket the
        // caller still owns) is not the operation's to close.
        if (!keeps(op)) op.sock = kInvalidSocket;
        setFlag(op, RPC_OP_FLAG_KEEP_CONNECTION, true);
    } else {
        closeKept(op);
    }
}

void closeKept(RpcOperation& op) noexcept {
    if (!keeps(op)) return;
    Socket kept(std::exchange(op.sock, kInvalidSocket));
    release(op, kept);
    setFlag(op, RPC_OP_FLAG_KEEP_CONNECTION, false);
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

int rpcSetKeepConnection(RpcOperation* op, int enable) {
    if (op == nullptr) return status::kNullRecord;
    exchange::keepConnection(*op, enable != 0);
    return status::kOk;
}

int rpcSetReservedPort(RpcOperation* op, int enable) {
    if (op == nullptr) return status::kNullRecord;
    setFlag(*op, RPC_OP_FLAG_RESERVED_PORT, enable != 0);
    return status::kOk;
}

void rpcSetAsyncOperation(RpcOperation* op, int enable, RpcWindow window, int* cancelFlag) {
    if (op == nullptr) return;
    setFlag(*op, RPC_OP_FLAG_ASYNC, enable != 0);
    op->cancelFlag = enable != 0 ? cancelFlag : nullptr;
    op->asyncWindow = window;
}

}  // extern "C"
