// SPDX-License-Identifier: MIT
// Sending one reply record on the server's connections.
#include "server/record_io.h"

#include <atomic>
#include <utility>

#include "platform/socket_errors.h"
#include "rpc/record_marking.h"
#include "server/server_status.h"

namespace qelrpc::server {
namespace {

constexpr uint64_t kDefaultRecordTimeoutMillis = 20000;
std::atomic<uint64_t> g_recordTimeoutMillis{kDefaultRecordTimeoutMillis};

thread_local ReplyQueue* t_replyQueue = nullptr;

}  // namespace

uint64_t recordTimeoutMillis() noexcept { return g_recordTimeoutMillis.load(std::memory_order_relaxed); }

void setRecordTimeoutMillis(uint64_t ms) noexcept {
    g_recordTimeoutMillis.store(ms == 0 ? kDefaultRecordTimeoutMillis : ms, std::memory_order_relaxed);
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
    // The whole record within the record timeout, however slowly the
    // client takes its bytes.
    const record::Bounds bounds{record::kNoSilenceLimit, deadline::after(recordTimeoutMillis() * 1000),
                                platform::sockerr::kTimedOut};
    return record::sendRecord(conn, rep.block.pos, static_cast<uint32_t>(total), bounds) == 0 ? 0 : status::kSendFailed;
}

ReplyQueue* setThreadReplyQueue(ReplyQueue* q) noexcept { return std::exchange(t_replyQueue, q); }

}  // namespace qelrpc::server

extern "C" int ReplyRPC(RpcOperation* op, RpcSocket connection) {
    return op == nullptr ? qelrpc::server::status::kSendFailed : qelrpc::server::replyRpc(*op, connection);
}
