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

}  // namespace qelrpc::record
