// SPDX-License-Identifier: MIT
// Record marking on TCP (RFC 5531 section 11), for the client's exchanges
// and the server's connections alike.
#pragma once

#include <cstdint>

#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/deadline.h"

namespace qelrpc::record {

// The time policy of one record (or of several sharing an end, as a
// client's call and its reply do): a wait for the peer lasts at most
// silenceMicros (kNoSilenceLimit: none), counted again whenever bytes move,
// and nothing goes on after `end` (Clock::time_point::max(): none). Either
// running out is `timedOut`, the number the caller's side reports.
constexpr uint64_t kNoSilenceLimit = UINT64_MAX;
struct Bounds {
    uint64_t silenceMicros;
    deadline::Clock::time_point end;
    int timedOut;
};

// Reads one record into block: the fragments back to back from block.pos,
// marks removed, block.count the bytes so far; a record longer than
// block.limit, or of more than wire::kMaxRecordFragments fragments, is
// sockerr::kMessageSize before a byte goes past it. 0, bounds.timedOut,
// sockerr::kDisconnected (the peer closed mid-record), sockerr::kFault (no
// block), or the socket's own error. s is non-blocking and left open.
int readRecord(platform::NativeSocket s, MbufCursor& block, const Bounds& bounds) noexcept;

// Sends bytes[0, length) as one record of one last fragment, the mark
// written into its first 4 bytes: 0, bounds.timedOut, or the socket's error.
int sendRecord(platform::NativeSocket s, uint8_t* bytes, uint32_t length, const Bounds& bounds) noexcept;

// A socket call that found the socket empty (or full), or that a signal
// interrupted, waits and tries again.
inline bool mustWait(int rc) {
    return rc == platform::sockerr::kWouldBlock || rc == platform::sockerr::kInterrupted;
}

// Waits until s is ready for `events` (a failed socket counts as ready: its
// next call reports the failure) or `end` passes: 0, sockerr::kTimedOut, or
// the wait's own error. A wake-up for a signal waits again.
int waitUntil(platform::NativeSocket s, unsigned events, deadline::Clock::time_point end) noexcept;


// Writes the mark of a record of one last fragment into bytes[0, 4);
// length counts the mark.
void markRecord(uint8_t* bytes, uint32_t length) noexcept;

// Sends what s takes now of bytes[done, length), moving done on: 0 (all of
// it sent, or the socket full for now), or the socket's error. Never waits.
int sendAvailable(platform::NativeSocket s, const uint8_t* bytes, uint32_t length, uint32_t& done) noexcept;

// One record read piece by piece as its bytes arrive, for a server that
// serves many connections on one thread: each call takes what the socket
// holds now and returns, never waits. The same rules as readRecord: the
// fragments back to back from block.pos, marks removed, block.count the
// bytes so far; more than block.limit bytes or wire::kMaxRecordFragments
// fragments is sockerr::kMessageSize before a byte goes past the block. The
// caller keeps the time bound (begun() says when the record has started).
class RecordReader {
  public:
    // 0: the record is whole in block (the reader starts afresh for the
    // next one). sockerr::kWouldBlock: the socket is empty for now; call
    // again with the same block when it is readable. Else
    // sockerr::kDisconnected (the peer closed, mid-record or between
    // records), sockerr::kMessageSize, sockerr::kFault (no block) or the
    // socket's own error; the reader is then spent.
    int readAvailable(platform::NativeSocket s, MbufCursor& block) noexcept;
    // A byte of the current record (its first mark included) has arrived.
    bool begun() const noexcept { return markBytes_ != 0 || fragments_ != 0; }

  private:
    uint8_t mark_[4] = {};
    uint32_t markBytes_ = 0;  // of the current fragment's mark
    uint32_t left_ = 0;       // bytes of the current fragment still to come
    uint32_t fragments_ = 0;  // marks read in this record
    bool inFragment_ = false;
    bool last_ = false;
};

}  // namespace qelrpc::record
