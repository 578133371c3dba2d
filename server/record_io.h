// SPDX-License-Identifier: MIT
// Reading one record-marked call from a connection and sending one reply
// record (RFC 5531 section 11), each bounded in size and in time.
#pragma once

#include <chrono>
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

// One call record into op.request's block, or op.reply's header and
// results out as one record (ReplyRPC), under that bound
// (rpc/record_marking.h). receiveRecord returns 0 or a Windows Sockets error
// number and leaves the connection open. replyRpc returns 0 or
// server::status::kSendFailed.
int receiveRecord(RpcOperation& op, platform::NativeSocket conn) noexcept;
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

// Ending a connection gracefully: how long to wait for the client to close
// first (then TIME_WAIT stays on its side), and how long in all for its FIN
// after ours.
constexpr std::chrono::milliseconds kPeerClosesFirst{250};
constexpr std::chrono::milliseconds kOrderlyCloseBound{2000};
// While a closing connection waits for the client to acknowledge our FIN,
// it is looked at again this often (the system does not wake a wait for it).
constexpr std::chrono::milliseconds kAckPoll{10};

// Ending a connection abortively (a reset, resources freed at once), for a
// connection the server gives up on: malformed, stalled, too long, or not
// reading. The orderly end after a served reply is the accept loop's.
void closeAbortively(platform::Socket& conn) noexcept;

// True when the client has acknowledged all we sent, our FIN included
// (known on Linux only).
bool allAcknowledged(platform::NativeSocket conn) noexcept;

}  // namespace qelrpc::server
