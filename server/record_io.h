// SPDX-License-Identifier: MIT
// The server's record bound, and sending one reply record (RFC 5531
// section 11) bounded in size and in time.
#pragma once

#include <cstdint>

#include "platform/sockets.h"
#include "qelrpc.h"

namespace qelrpc::server {

// How long one record may take to arrive or to be sent, from the start of
// its read or send: a client that connects and sends nothing, stalls in a
// record, or stops reading, is dropped after this. 20 seconds, as the
// client side waits for a reply. Test seam: a shorter bound; 0 restores
// the default.
uint64_t recordTimeoutMillis() noexcept;
void setRecordTimeoutMillis(uint64_t ms) noexcept;

// op.reply's header and results out as one record (ReplyRPC), under that
// bound (rpc/record_marking.h): 0 or server::status::kSendFailed.
int replyRpc(RpcOperation& op, platform::NativeSocket conn) noexcept;

// The accept loop running on this thread owns the sending of replies on its
// own connections: ReplyRPC hands it the marked record, the loop sends what
// the socket takes at once and keeps the rest to send as room comes, without
// holding its other connections. queueReply returns 0 (sent or kept to
// send), status::kSendFailed, or kNotThisLoops for a connection the loop
// does not hold (ReplyRPC then sends it itself, as it does on any thread
// without a loop).
class ReplyQueue {
  public:
    static constexpr int kNotThisLoops = 1;
    virtual int queueReply(platform::NativeSocket conn, const uint8_t* record, uint32_t length) noexcept = 0;

  protected:
    ~ReplyQueue() = default;
};
// Makes q this thread's queue (nullptr: none); returns the one before.
ReplyQueue* setThreadReplyQueue(ReplyQueue* q) noexcept;

}  // namespace qelrpc::server
