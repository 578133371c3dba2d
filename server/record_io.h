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
// the block: a call longer than it is refused with sockerr::kMessageSize.
// Returns 0 or a Windows Sockets error number (sockerr::kDisconnected when the peer closed
// before the record was complete, timed out,
// reset, ...). The connection is left open; the caller closes it.
int receiveRecord(RpcOperation& op, platform::NativeSocket conn) noexcept;

// Sends `length` bytes in full, waiting for room at most the record bound.
int sendAll(platform::NativeSocket conn, const uint8_t* bytes, uint32_t length) noexcept;

}  // namespace qelrpc::server
