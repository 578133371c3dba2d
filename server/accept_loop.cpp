// SPDX-License-Identifier: MIT
// The accept loop: every connection served on the caller's thread, none
// able to hold the others. One wait covers the listening socket and every
// open connection (platform/socket_wait.h); each connection's call record is
// put together as its bytes arrive (record::RecordReader) under that
// connection's own deadline; complete calls go to the handler one at a
// time, in the order they became whole; replies the socket cannot take at
// once wait in the loop for room (ReplyRPC hands them over through
// server::ReplyQueue) while the others are served.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/heap.h"
#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "platform/socket_wait.h"
#include "platform/sockets.h"
#include "rpc/deadline.h"
#include "rpc/record_marking.h"
#include "server/call_blocks.h"
#include "server/record_io.h"
#include "server/server.h"
#include "server/server_status.h"

namespace qelrpc::server {
namespace {

using namespace server::status;
using deadline::Clock;
using platform::NativeSocket;
namespace sockerr = platform::sockerr;

enum Action { kStop = 0, kKeepConnection = 1 };

constexpr Clock::time_point kNever = Clock::time_point::max();
// Connections accepted in one turn of the loop at most, so a burst of
// clients cannot starve the calls already waiting.
constexpr int kAcceptsPerTurn = 64;
// With no descriptors left for accept and no idle connection to drop, the
// listening socket rests this long (its clients wait in the listen queue).
constexpr std::chrono::milliseconds kAcceptRest{100};
// Ending a connection gracefully: how long to wait for the client to close
// first (then TIME_WAIT stays on its side), and how long in all for its FIN
// after ours.
constexpr std::chrono::milliseconds kPeerClosesFirst{250};
constexpr std::chrono::milliseconds kOrderlyCloseBound{2000};
// While a closing connection waits for the client to acknowledge our FIN,
// it is looked at again this often (the system does not wake a wait for it).
constexpr std::chrono::milliseconds kAckPoll{10};

// Ending a connection abortively (a reset, resources freed at once), for a
// connection the server gives up on or a newcomer it refuses.
void closeAbortively(platform::Socket& conn) {
    platform::setLinger(conn.get(), true, 0);
    conn.close();
}

// True when the client has acknowledged all we sent, our FIN included
// (known on Linux only).
bool allAcknowledged(NativeSocket conn) {
    std::size_t pending = 0;
    return platform::unacknowledgedBytes(conn, pending) == 0 && pending == 0;
}

enum class Phase {
    Serving,       // reading calls; a queued reply is sent first
    AwaitingFin,   // reply delivered, waiting for the client to close first
    Draining,      // our FIN sent, input drained until the client's FIN or ack
};

struct Connection {
    platform::Socket sock;  // valid while the slot holds a connection
    Phase phase = Phase::Serving;
    // The call record arriving, in a block of its own while it does.
    record::RecordReader reader;
    uint8_t* block = nullptr;
    MbufCursor in{};
    bool whole = false;  // a complete call waits for the handler
    // The whole record within the server's bound: from its first byte, and
    // for a new connection from the accept. kNever while idle between calls.
    Clock::time_point recordEnd = kNever;
    Clock::time_point lastActive{};
    // The unsent rest of replies, sent before the next call is read.
    uint8_t* out = nullptr;
    uint32_t outLength = 0, outDone = 0;
    Clock::time_point sendEnd = kNever;
    bool closeAfterSend = false;
    bool replyFailed = false;
    // Graceful close: the client's turn to close ends at closeFirstEnd, the
    // whole close at closeEnd.
    Clock::time_point closeFirstEnd{}, closeEnd{};

    bool open() const { return sock.valid(); }
    bool sending() const { return outLength != 0; }
    bool idle() const {
        return open() && phase == Phase::Serving && !whole && !sending() && !reader.begun();
    }
    // Bytes of the next call came with the last one (a client that sends
    // calls back to back): they are read on without waiting for the socket,
    // which may have nothing more.
    bool pipelined() const {
        return open() && phase == Phase::Serving && !whole && !sending() && reader.buffered() != 0;
    }
};

class Loop final : public ReplyQueue {
  public:
    Loop(RpcOperation& listening, RpcCallHandler handler, std::size_t cap)
        : listening_(listening), handler_(handler), cap_(cap), waits_(cap + 1) {}
    ~Loop() {
        for (std::size_t i = 0; i < cap_ && conns_; ++i) forget(conns_[i]);
    }

    bool ready() {
        conns_.reset(new (std::nothrow) Connection[cap_]);
        order_.reset(new (std::nothrow) std::size_t[cap_]);
        waitIndex_.reset(new (std::nothrow) std::size_t[cap_]);
        return conns_ && order_ && waitIndex_ && waits_.valid();
    }

    int run();

    int queueReply(NativeSocket conn, const uint8_t* record, uint32_t length) noexcept override;

  private:
    RpcOperation& listening_;
    RpcCallHandler handler_;
    const std::size_t cap_;
    std::unique_ptr<Connection[]> conns_;
    std::unique_ptr<std::size_t[]> order_;      // whole calls, in the order they became whole
    std::unique_ptr<std::size_t[]> waitIndex_;  // each connection's place in the wait set
    std::size_t wholeCount_ = 0;
    // Slots at and past used_ are all free: each turn looks at the slots
    // below it only, not at the whole table.
    std::size_t used_ = 0;
    platform::SocketWaitSet waits_;
    BlockPool blocks_;
    Connection* serving_ = nullptr;  // the connection whose call the handler has
    // A handler answered 0 on this connection: the loop serves it alone
    // until its reply is delivered (within the bound) and it is closed in
    // order, as the single-connection server always did, then returns and
    // closes the others.
    Connection* stopping_ = nullptr;
    bool live(const Connection& c) const { return stopping_ == nullptr || &c == stopping_; }
    Clock::time_point acceptRestEnd_{};

    static std::chrono::microseconds recordBound() {
        return std::chrono::microseconds(recordTimeoutMillis() * 1000);
    }

    void releaseBlock(Connection& c) {
        if (c.block == nullptr) return;
        blocks_.give(c.block, std::max(c.in.count, c.reader.reach()));
        c.block = nullptr;
        c.in = MbufCursor{};
    }
    void releaseOut(Connection& c) {
        heap::release(c.out);
        c.out = nullptr;
        c.outLength = c.outDone = 0;
        c.sendEnd = kNever;
    }
    // Closes the connection plainly, unless drop reset it already, and
    // resets the slot for the next one. Ended by the client (nothing of ours
    // pending; it keeps the TIME_WAIT) or done with: a plain close.
    void forget(Connection& c) {
        c.sock.close();
        while (used_ > 0 && !conns_[used_ - 1].open()) --used_;
        releaseBlock(c);
        releaseOut(c);
        c.reader = record::RecordReader{};
        c.phase = Phase::Serving;
        c.whole = c.closeAfterSend = c.replyFailed = false;
        c.recordEnd = kNever;
    }
    // Given up on: malformed, stalled, too long, not reading, or no memory.
    void drop(Connection& c) {
        closeAbortively(c.sock);
        forget(c);
    }
    void beginClose(Connection& c, Clock::time_point now) {
        c.phase = Phase::AwaitingFin;
        c.closeFirstEnd = now + kPeerClosesFirst;
        c.closeEnd = now + kOrderlyCloseBound;
    }

    Connection* freeSlot() {
        for (std::size_t i = 0; i < cap_; ++i)
            if (!conns_[i].open()) return &conns_[i];
        return nullptr;
    }
    Connection* find(NativeSocket s) {
        if (serving_ != nullptr && serving_->sock.get() == s) return serving_;
        for (std::size_t i = 0; i < used_; ++i)
            if (conns_[i].open() && conns_[i].sock.get() == s) return &conns_[i];
        return nullptr;
    }

    Clock::time_point nextDeadline(Clock::time_point now) const;
    // Accepts what the listen queue holds: 0, or the accept's failure.
    int acceptNew(Clock::time_point now);
    bool dropOldestIdle();
    void read(Connection& c, std::size_t index, Clock::time_point now);
    void send(Connection& c, Clock::time_point now);
    void drain(Connection& c);
    void checkTimes(Connection& c, Clock::time_point now);
    // Serves one whole call: false when the handler answered 0.
    bool serve(Connection& c);
};

Clock::time_point Loop::nextDeadline(Clock::time_point now) const {
    Clock::time_point next = kNever;
    if (acceptRestEnd_ > now) next = acceptRestEnd_;
    for (std::size_t i = 0; i < used_; ++i) {
        const Connection& c = conns_[i];
        if (!c.open() || !live(c)) continue;
        switch (c.phase) {
            case Phase::Serving: next = std::min(next, c.sending() ? c.sendEnd : c.recordEnd); break;
            case Phase::AwaitingFin: next = std::min(next, c.closeFirstEnd); break;
            case Phase::Draining: next = std::min({next, c.closeEnd, now + kAckPoll}); break;
        }
    }
    return next;
}

bool Loop::dropOldestIdle() {
    Connection* oldest = nullptr;
    for (std::size_t i = 0; i < used_; ++i) {
        Connection& c = conns_[i];
        if (c.idle() && (oldest == nullptr || c.lastActive < oldest->lastActive)) oldest = &c;
    }
    if (oldest == nullptr) return false;
    // It has nothing of ours pending and no call begun: a plain close, the
    // client sees an orderly end.
    forget(*oldest);
    return true;
}

int Loop::acceptNew(Clock::time_point now) {
    for (int n = 0; n < kAcceptsPerTurn; ++n) {
        platform::Socket s;
        const int rc = platform::acceptFrom(listening_.sock, s, nullptr);
        if (rc != 0) {
            if (record::mustWait(rc) || rc == sockerr::kConnectionAborted || rc == sockerr::kConnectionReset) return 0;
            if (rc == sockerr::kTooManyOpen || rc == sockerr::kNoBuffers) {
                // Out of descriptors or buffers: an idle client makes room,
                // else the newcomers wait in the listen queue a while.
                if (!dropOldestIdle()) {
                    acceptRestEnd_ = now + kAcceptRest;
                    return 0;
                }
                continue;
            }
            return rc;
        }
        // Non-blocking, so every read and write of the connection is
        // bounded in time and never holds the others.
        platform::setNonBlocking(s.get(), true);
        Connection* c = freeSlot();
        if (c == nullptr && dropOldestIdle()) c = freeSlot();
        if (c == nullptr) {
            // Every connection is busy with a call: the newcomer is refused.
            closeAbortively(s);
            continue;
        }
        c->sock = std::move(s);
        used_ = std::max(used_, static_cast<std::size_t>(c - conns_.get()) + 1);
        // A new connection's first call is due within the bound.
        c->recordEnd = now + recordBound();
        c->lastActive = now;
    }
    return 0;
}

void Loop::read(Connection& c, std::size_t index, Clock::time_point now) {
    if (c.block == nullptr) {
        c.block = blocks_.take();
        if (c.block == nullptr) {
            // No memory for this call: drop the connection, keep serving.
            drop(c);
            return;
        }
        c.in = MbufCursor{0, RPC_MBUF_SIZE, c.block};
    }
    const bool begunBefore = c.reader.begun();
    const int rc = c.reader.readAvailable(c.sock.get(), c.in);
    if (rc == 0) {
        c.whole = true;
        order_[wholeCount_++] = index;
        return;
    }
    if (record::mustWait(rc)) {
        if (!c.reader.begun()) {
            releaseBlock(c);  // nothing arrived: an idle connection holds no block
        } else if (!begunBefore && c.recordEnd == kNever) {
            c.recordEnd = now + recordBound();
        }
        return;
    }
    // The client closed: nothing of ours is pending, and it keeps the
    // TIME_WAIT. Reset, too long, or broken: given up on.
    if (rc == sockerr::kDisconnected) forget(c);
    else drop(c);
}

void Loop::send(Connection& c, Clock::time_point now) {
    const int rc = record::sendAvailable(c.sock.get(), c.out, c.outLength, c.outDone);
    if (rc != 0) {
        drop(c);
        return;
    }
    if (c.outDone < c.outLength) return;
    releaseOut(c);
    c.lastActive = now;
    if (c.closeAfterSend) beginClose(c, now);
}

// Reads and drops what a closing connection's client sends; its FIN, a
// reset or an error end the connection.
void Loop::drain(Connection& c) {
    uint8_t scrap[512];
    for (int i = 0; i < 64; ++i) {
        std::size_t got = 0;
        const int rc = platform::receiveBytes(c.sock.get(), scrap, sizeof scrap, got);
        if (rc == 0 && got > 0) continue;
        if (rc != 0 && record::mustWait(rc)) return;
        forget(c);
        return;
    }
}

void Loop::checkTimes(Connection& c, Clock::time_point now) {
    if (!c.open()) return;
    switch (c.phase) {
        case Phase::Serving:
            // A client that stops reading its replies, or stalls in a call
            // (or never sends its first), is given up on after the bound.
            if (c.sending() ? now >= c.sendEnd : (!c.whole && now >= c.recordEnd)) drop(c);
            return;
        case Phase::AwaitingFin:
            if (now < c.closeFirstEnd) return;
            // Our FIN goes behind the reply's last byte; input is drained
            // meanwhile, since a close with unread input resets the
            // connection and could drop the reply's unsent tail.
            platform::shutdownSend(c.sock.get());
            c.phase = Phase::Draining;
            [[fallthrough]];
        case Phase::Draining:
            // Linger off: the rest still goes out.
            if (allAcknowledged(c.sock.get()) || now >= c.closeEnd) forget(c);
            return;
    }
}

int Loop::queueReply(NativeSocket conn, const uint8_t* record, uint32_t length) noexcept {
    Connection* c = find(conn);
    if (c == nullptr) return kNotThisLoops;
    if (c->replyFailed) return kSendFailed;
    uint32_t done = 0;
    if (!c->sending()) {
        const int rc = record::sendAvailable(conn, record, length, done);
        if (rc != 0) {
            c->replyFailed = true;
            return kSendFailed;
        }
        if (done == length) return 0;
    }
    // The rest waits for room, behind any reply still waiting.
    const uint32_t kept = c->outLength - c->outDone;
    const uint64_t total = uint64_t{kept} + (length - done);
    auto* out = total > UINT32_MAX ? nullptr : static_cast<uint8_t*>(heap::raw(static_cast<std::size_t>(total)));
    if (out == nullptr) {
        c->replyFailed = true;
        return kSendFailed;
    }
    if (kept != 0) std::memcpy(out, c->out + c->outDone, kept);
    std::memcpy(out + kept, record + done, length - done);
    // The bound runs from the first reply that had to wait.
    const Clock::time_point end = c->sending() ? c->sendEnd : Clock::now() + recordBound();
    releaseOut(*c);
    c->out = out;
    c->outLength = static_cast<uint32_t>(total);
    c->sendEnd = end;
    return 0;
}

bool Loop::serve(Connection& c) {
    c.whole = false;
    uint8_t* request = c.block;
    const uint32_t bytes = c.in.count;
    const MbufCursor record = c.in;
    const uint32_t reach = std::max(bytes, c.reader.reach());
    c.block = nullptr;
    c.in = MbufCursor{};
    c.recordEnd = kNever;  // idle between calls
    if (c.reader.buffered() != 0) {
        // What came behind the call starts the next one, in a block of its
        // own: the handler may write all over the call's.
        c.block = blocks_.take();
        c.in = MbufCursor{0, RPC_MBUF_SIZE, c.block};
        if (c.block == nullptr || !c.reader.carry(record, c.in)) {
            blocks_.give(request, reach);
            drop(c);
            return true;
        }
    }
    // The call's block as the handler gets it: the call, zeros behind.
    if (reach > bytes) std::memset(request + bytes, 0, reach - bytes);

    RpcOperation call{};
    if (blocks_.lend(call, request, bytes) != 0) {
        // No memory for this call: drop the connection, keep serving.
        blocks_.give(request, bytes);
        drop(c);
        return true;
    }
    serving_ = &c;
    c.replyFailed = false;
    uint32_t xid = 0;
    const int check = processCall(call, xid);
    if (check != 0) {
        // A call that cannot be read never reaches the handler. One of
        // another RPC version is answered MSG_DENIED / RPC_MISMATCH with the
        // versions this side speaks (RFC 5531), and its connection stays.
        if (check == kBadRpcVersion) writeRpcMismatchHeader(call.reply, xid);
        const bool answered = check == kBadRpcVersion && replyRpc(call, c.sock.get()) == 0;
        blocks_.takeBack(call);
        serving_ = nullptr;
        if (!answered) drop(c);
        else c.lastActive = Clock::now();
        return true;
    }

    call.userData = listening_.userData;
    const int action = handler_(&call, c.sock.get(), xid);
    blocks_.takeBack(call);
    serving_ = nullptr;
    const auto now = Clock::now();
    c.lastActive = now;
    // A next call begun behind this one is due within the bound, as any.
    if (c.reader.begun()) c.recordEnd = now + recordBound();

    if (c.replyFailed) {
        // The client does not take its replies: given up on.
        drop(c);
    } else if (action == kKeepConnection) {
        return true;
    } else if (c.sending()) {
        // 0, 2, and any answer the loop does not know, end this connection
        // once its reply is out.
        c.closeAfterSend = true;
    } else {
        beginClose(c, now);
    }
    return action != kStop;
}

int Loop::run() {
    for (;;) {
        if (stopping_ != nullptr && !stopping_->open()) return 0;
        auto now = Clock::now();
        waits_.clear();
        const bool listen = stopping_ == nullptr && now >= acceptRestEnd_;
        const std::size_t listenIndex = listen ? waits_.add(listening_.sock, platform::kReadable) : SIZE_MAX;
        for (std::size_t i = 0; i < used_; ++i) {
            Connection& c = conns_[i];
            waitIndex_[i] = SIZE_MAX;
            if (!c.open() || !live(c)) continue;
            // A connection with a reply still going out is not read: a
            // client that never reads stalls only itself.
            waitIndex_[i] = waits_.add(c.sock.get(), c.sending() ? platform::kWritable : platform::kReadable);
        }
        bool pipelined = false;
        for (std::size_t i = 0; i < used_ && !pipelined; ++i) pipelined = live(conns_[i]) && conns_[i].pipelined();
        const Clock::time_point next = nextDeadline(now);
        const uint64_t micros =
            pipelined ? 0 : next == kNever ? 86'400'000'000 : deadline::microsUntil(next);
        const int rc = waits_.wait(micros);
        if (rc != 0) return stopping_ != nullptr ? 0 : kAcceptFailed;
        now = Clock::now();

        wholeCount_ = 0;
        for (std::size_t i = 0; i < used_; ++i) {
            Connection& c = conns_[i];
            if (!c.open() || waitIndex_[i] == SIZE_MAX) continue;
            const unsigned r = waits_.ready(waitIndex_[i]);
            if (r == 0 && !c.pipelined()) continue;
            if (c.sending()) send(c, now);
            else if (c.phase == Phase::Serving) read(c, i, now);
            else drain(c);
        }
        for (std::size_t i = 0; i < used_; ++i)
            if (live(conns_[i])) checkTimes(conns_[i], now);

        if (listenIndex != SIZE_MAX && waits_.ready(listenIndex) != 0 && acceptNew(now) != 0) return kAcceptFailed;

        for (std::size_t k = 0; k < wholeCount_; ++k) {
            Connection& c = conns_[order_[k]];
            if (!c.open() || !c.whole) continue;
            if (!serve(c)) {
                stopping_ = &c;
                break;
            }
        }
    }
}

}  // namespace

std::size_t connectionCap() noexcept { return platform::SocketWaitSet::systemLimit() - 1; }

int acceptIncoming(RpcOperation& listening, RpcCallHandler handler) {
    // The loop accepts only when the listening socket is ready, and a client
    // that resets before the accept must not block it there.
    if (platform::setNonBlocking(listening.sock, true) != 0) return kAcceptFailed;
    int result = kAcceptFailed;
    {
        Loop loop(listening, handler, connectionCap());
        if (loop.ready()) {
            ReplyQueue* before = setThreadReplyQueue(&loop);
            result = loop.run();
            setThreadReplyQueue(before);
        }
        // Every connection the loop opened is closed here.
    }
    platform::setNonBlocking(listening.sock, false);
    return result;
}

}  // namespace qelrpc::server
