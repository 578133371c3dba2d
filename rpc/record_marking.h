// SPDX-License-Identifier: MIT
// Record marking on TCP (RFC 5531 section 11), for the client's exchanges
// and the server's connections alike: reading one record into a block and
// sending one, each under the caller's time bounds, with the fragment cap
// and the error numbers in this one place.
#pragma once

#include <cstdint>

#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "qelrpc.h"
#include "rpc/deadline.h"

namespace qelrpc::record {

// The time policy of one record (or of several sharing an end, as a
// client's call and its reply do). A wait for the peer lasts at most
// silenceMicros (kNoSilenceLimit: none), counted again after every byte
// that moves, and nothing goes on after `end` (Clock::time_point::max():
// none). When either runs out the result is `timedOut`: each side keeps the
// number it reports.
constexpr uint64_t kNoSilenceLimit = UINT64_MAX;
struct Bounds {
    uint64_t silenceMicros;
    deadline::Clock::time_point end;
    int timedOut;
};

// Reads one record into block: the fragments' contents back to back from
// block.pos, marks removed, block.count the bytes so far. Never writes past
// block.limit: a record longer than that, or of more than
// wire::kMaxRecordFragments fragments, is sockerr::kMessageSize. Returns 0,
// bounds.timedOut, sockerr::kDisconnected when the peer closed before the
// record was complete, sockerr::kFault for a block without memory, or the
// socket's own error. s is non-blocking; it is left open.
int readRecord(platform::NativeSocket s, MbufCursor& block, const Bounds& bounds) noexcept;

// Sends bytes[0, length) as one record of one last fragment: the first 4
// bytes are the mark's slot, filled here (length >= 4). Returns 0,
// bounds.timedOut when the peer takes too little in time, or the socket's
// own error.
int sendRecord(platform::NativeSocket s, uint8_t* bytes, uint32_t length, const Bounds& bounds) noexcept;

// A socket call that found the socket empty (or full) waits and tries
// again; so does one a signal interrupted.
inline bool mustWait(int rc) {
    return rc == platform::sockerr::kWouldBlock || rc == platform::sockerr::kInterrupted;
}

// Waits until s is ready for `events` (platform::kReadable/kWritable; a
// failed socket counts as ready, its next call reports the failure) or
// `end` passes: 0, sockerr::kTimedOut, or the wait's own error. Wake-ups
// for a signal wait again.
int waitUntil(platform::NativeSocket s, unsigned events, deadline::Clock::time_point end) noexcept;

}  // namespace qelrpc::record
