// Reading one record-marked call from a connection and sending one reply
// record (RFC 5531 section 11), each bounded in size and in time.
#pragma once

#include <cstdint>

#include "platform/sockets.h"
#include "qelrpc.h"

namespace qelrpc::server {

// How long one record may take to arrive or to be sent, from its first byte
// on: a client that connects and sends nothing, or stalls in a record, is
// dropped after this. 20 seconds, as the client side waits for a reply.
uint64_t recordTimeoutMillis() noexcept;
// Test seam: a shorter bound. 0 restores the default.
void setRecordTimeoutMillis(uint64_t ms) noexcept;

// Reads one call into op.request's block: the fragments' contents back to
// back, marks removed; block.count is the call's length. Never writes past
// the block: a call longer than it, or of more than 65,536 fragments, is
// refused with sockerr::kMessageSize. The record's time bound holds on every
// fragment.
// Returns 0 or a Windows Sockets error number (sockerr::kDisconnected when the peer closed
// before the record was complete, timed out,
// reset, ...). The connection is left open; the caller closes it.
int receiveRecord(RpcOperation& op, platform::NativeSocket conn) noexcept;

// Sends `length` bytes in full, waiting for room at most the record bound.
int sendAll(platform::NativeSocket conn, const uint8_t* bytes, uint32_t length) noexcept;

// ReplyRPC notes a reply it could not send in full; the accept loop takes
// the note after the handler and ends that connection, whatever the handler
// answered (the record may be cut, and a client that does not read would
// make every later reply wait out the bound again).
void noteReplyFailed(platform::NativeSocket conn) noexcept;
bool takeReplyFailed(platform::NativeSocket conn) noexcept;

// Ending a connection. Gracefully, after a served reply: the reply's last
// bytes are delivered and the client sees an orderly end; the wait for the
// client's FIN is bounded (2 seconds), then the socket is closed with linger
// off. Abortively (a reset, resources freed at once), for a connection the
// server gives up on: malformed, stalled, too long, or not reading.
void closeGracefully(platform::Socket& conn) noexcept;
void closeAbortively(platform::Socket& conn) noexcept;

}  // namespace qelrpc::server
