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
// The same under b: the silence limit from now, within b.end; 0, b.timedOut,
// or the wait's own error.
int waitUnder(platform::NativeSocket s, unsigned events, const Bounds& b) noexcept;

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
//
// Each receive takes all the socket holds that fits in the block (a record
// mark into the reader, the bytes behind it into the block), so a record
// that is there whole costs one receive. Bytes past the record's end that
// came with it (a call pipelined behind another, a stray reply) are never
// lost: they stay in the block behind the record, buffered() of them, and
// carry() moves them to the start of the block the next record goes into.
class RecordReader {
  public:
    // 0: the record is whole in block (the reader starts afresh for the
    // next one). sockerr::kWouldBlock: the socket is empty for now; call
    // again with the same block when it is readable (called on the block of
    // a whole record, the buffered bytes are carried to its start first). Else
    // sockerr::kDisconnected (the peer closed, mid-record or between
    // records), sockerr::kMessageSize, sockerr::kFault (no block) or the
    // socket's own error; the reader is then spent. With bytes buffered
    // (after carry) they are taken first: a record they hold whole needs no
    // receive at all.
    int readAvailable(platform::NativeSocket s, MbufCursor& block) noexcept;
    // A byte of the current record (its first mark included) has arrived,
    // or bytes of the next one wait in the reader's block.
    bool begun() const noexcept { return markBytes_ != 0 || fragments_ != 0 || buffered_ != 0; }
    // After a whole record: the bytes received past its end, at
    // block.pos + block.count.
    uint32_t buffered() const noexcept { return buffered_; }
    // Moves the buffered bytes from behind the record in `from` to the start
    // of `to` (the same block or another; to.count becomes 0), where the next
    // readAvailable(s, to) begins. false (nothing moved) when they do not fit
    // to.limit.
    bool carry(const MbufCursor& from, MbufCursor& to) noexcept;
    // How far into the current block receives have written (at least
    // block.count; more where bytes came past the record or marks were taken
    // out): a caller that hands blocks back cleared clears this much.
    uint32_t reach() const noexcept { return reach_; }

  private:
    // Takes the buffered bytes into the record: 0 when it is whole, a
    // refusal, or kMoreBytes.
    int consume(MbufCursor& block) noexcept;
    static constexpr int kMoreBytes = 1;

    uint8_t mark_[4] = {};
    uint32_t markBytes_ = 0;  // of the current fragment's mark
    uint32_t left_ = 0;       // bytes of the current fragment still to come
    uint32_t fragments_ = 0;  // marks read in this record
    uint32_t buffered_ = 0;   // received, not yet taken, at block.pos + block.count
    uint32_t reach_ = 0;      // see reach()
    bool inFragment_ = false;
    bool last_ = false;
    bool whole_ = false;  // the last readAvailable completed a record; nothing carried since
};

// Reads one record into block: the fragments back to back from block.pos,
// marks removed, block.count the bytes so far; a record longer than
// block.limit, or of more than wire::kMaxRecordFragments fragments, is
// sockerr::kMessageSize before a byte goes past it. 0, bounds.timedOut,
// sockerr::kDisconnected (the peer closed mid-record), sockerr::kFault (no
// block), or the socket's own error. s is non-blocking and left open. The
// caller's reader keeps what came past the record (RecordReader::buffered)
// for the next one.
int readRecord(platform::NativeSocket s, MbufCursor& block, const Bounds& bounds, RecordReader& reader) noexcept;

}  // namespace qelrpc::record
