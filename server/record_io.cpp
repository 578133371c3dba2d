// SPDX-License-Identifier: MIT
// Reading one call record and sending one reply record on the server's
// connections, and ending those connections.
#include "server/record_io.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "rpc/record_marking.h"
#include "server/server_status.h"

namespace qelrpc::server {
namespace {

constexpr uint64_t kDefaultRecordTimeoutMillis = 20000;
std::atomic<uint64_t> g_recordTimeoutMillis{kDefaultRecordTimeoutMillis};

thread_local ReplyQueue* t_replyQueue = nullptr;

// The server's bound for one record: the whole of it within the record
// timeout, however the bytes trickle in or out.
record::Bounds recordBounds() {
    return {record::kNoSilenceLimit, deadline::after(recordTimeoutMillis() * 1000), platform::sockerr::kTimedOut};
}

}  // namespace

uint64_t recordTimeoutMillis() noexcept { return g_recordTimeoutMillis.load(std::memory_order_relaxed); }

void setRecordTimeoutMillis(uint64_t ms) noexcept {
    g_recordTimeoutMillis.store(ms == 0 ? kDefaultRecordTimeoutMillis : ms, std::memory_order_relaxed);
}

int receiveRecord(RpcOperation& op, platform::NativeSocket conn) noexcept {
    record::RecordReader reader;
    return record::readRecord(conn, op.request.block, recordBounds(), reader);
}

int replyRpc(RpcOperation& op, platform::NativeSocket conn) noexcept {
    Mbuf& rep = op.reply;
    const uint64_t total = uint64_t{rep.header.count} + rep.data.count;
    if (rep.block.pos == nullptr || total < 4 || total > rep.block.limit) return status::kSendFailed;
    if (ReplyQueue* q = t_replyQueue) {
        record::markRecord(rep.block.pos, static_cast<uint32_t>(total));
        const int rc = q->queueReply(conn, rep.block.pos, static_cast<uint32_t>(total));
        if (rc != ReplyQueue::kNotThisLoops) return rc == 0 ? 0 : status::kSendFailed;
    }
    return record::sendRecord(conn, rep.block.pos, static_cast<uint32_t>(total), recordBounds()) == 0
               ? 0
               : status::kSendFailed;
}

ReplyQueue* setThreadReplyQueue(ReplyQueue* q) noexcept { return std::exchange(t_replyQueue, q); }

void closeAbortively(platform::Socket& conn) noexcept {
    if (!conn.valid()) return;
    platform::setLinger(conn.get(), true, 0);
    conn.close();
}

bool allAcknowledged(platform::NativeSocket conn) noexcept {
    std::size_t pending = 0;
    return platform::unacknowledgedBytes(conn, pending) == 0 && pending == 0;
}

namespace {

// Reads and drops what the peer sends until its FIN (true) or the deadline
// (false). A reset or error also ends the wait: nothing is left to deliver.
// With untilAcknowledged the wait also ends (true) once the peer has
// acknowledged everything, FIN included: a close then loses nothing.
bool drainUntilPeerCloses(platform::NativeSocket conn, deadline::Clock::time_point end, bool untilAcknowledged) {
    uint8_t scrap[512];
    for (;;) {
        std::size_t got = 0;
        int rc = platform::receiveBytes(conn, scrap, sizeof scrap, got);
        if (rc == 0) {
            if (got == 0) return true;
            continue;
        }
        if (!record::mustWait(rc)) return true;
        if (untilAcknowledged && allAcknowledged(conn)) return true;
        const auto until = untilAcknowledged ? std::min(end, deadline::Clock::now() + kAckPoll) : end;
        rc = record::waitUntil(conn, platform::kReadable, until);
        if (rc == platform::sockerr::kTimedOut) {
            if (until < end) continue;
            return false;
        }
        if (rc != 0) return true;
    }
}

}  // namespace

void closeGracefully(platform::Socket& conn) noexcept {
    if (!conn.valid()) return;
    const auto start = deadline::Clock::now();
    // A client that has its answer usually closes at once; its FIN first
    // leaves TIME_WAIT on its side.
    if (!drainUntilPeerCloses(conn.get(), start + kPeerClosesFirst, false)) {
        // Our FIN goes behind the reply's last byte; the client reading to
        // the end sees an orderly end. Input is drained meanwhile, since a
        // close with unread input resets the connection and drops the
        // reply's unsent tail. Where the system tells, the wait ends as
        // soon as the client has acknowledged everything (FIN included).
        platform::shutdownSend(conn.get());
        drainUntilPeerCloses(conn.get(), start + kOrderlyCloseBound, true);
    }
    // Linger off: whatever is still queued goes out after the close.
    conn.close();
}

}  // namespace qelrpc::server

extern "C" int ReplyRPC(RpcOperation* op, RpcSocket connection) {
    return op == nullptr ? qelrpc::server::status::kSendFailed : qelrpc::server::replyRpc(*op, connection);
}
