// SPDX-License-Identifier: MIT
#include "rpc/record_marking.h"

#include <algorithm>
#include <cstring>

#include "platform/socket_errors.h"
#include "xdr/wire.h"

namespace qelrpc::record {

using deadline::Clock;
using platform::NativeSocket;
namespace sockerr = platform::sockerr;

// Windows' select takes its seconds as a long: no single wait is longer
// than a day, a longer bound just waits again.
constexpr uint64_t kLongestWaitMicros = 86'400'000'000;

int waitUntil(NativeSocket s, unsigned events, Clock::time_point end) noexcept {
    for (;;) {
        const uint64_t left = deadline::microsUntil(end);
        if (left == 0) return sockerr::kTimedOut;
        unsigned ready = 0;
        const int rc = platform::waitFor(s, events, std::min(left, kLongestWaitMicros), ready);
        if (rc != 0 || ready != 0) return rc;
    }
}

int waitUnder(NativeSocket s, unsigned events, const Bounds& b) noexcept {
    const Clock::time_point end =
        b.silenceMicros == kNoSilenceLimit ? b.end : std::min(deadline::after(b.silenceMicros), b.end);
    const int rc = waitUntil(s, events, end);
    return rc == sockerr::kTimedOut ? b.timedOut : rc;
}

int readRecord(NativeSocket s, MbufCursor& block, const Bounds& b, RecordReader& reader) noexcept {
    // The piecewise reader below, waiting whenever the socket runs dry.
    // Each of its runs is bounded in bytes (the block) and in fragments
    // (the cap), so a peer that keeps the socket full is bound too.
    for (;;) {
        const int rc = reader.readAvailable(s, block);
        if (!mustWait(rc)) return rc;
        const int waited = waitUnder(s, platform::kReadable, b);
        if (waited != 0) return waited;
    }
}

void markRecord(uint8_t* bytes, uint32_t length) noexcept { wire::storeWord(bytes, wire::lastFragmentMark(length - 4)); }

int sendAvailable(NativeSocket s, const uint8_t* bytes, uint32_t length, uint32_t& done) noexcept {
    while (done < length) {
        std::size_t sent = 0;
        const int rc = platform::sendBytes(s, bytes + done, length - done, sent);
        if (rc != 0) return mustWait(rc) ? 0 : rc;
        done += static_cast<uint32_t>(sent);
    }
    return 0;
}

int sendRecord(NativeSocket s, uint8_t* bytes, uint32_t length, const Bounds& b) noexcept {
    markRecord(bytes, length);
    // What the socket takes at once is taken at once; only a full socket
    // costs a wait.
    for (uint32_t done = 0;;) {
        int rc = sendAvailable(s, bytes, length, done);
        if (rc != 0 || done == length) return rc;
        rc = waitUnder(s, platform::kWritable, b);
        if (rc != 0) return rc;
    }
}

// The block while a record arrives:
//
//   block.pos                 + count                 + buffered_
//   | the record so far, marks  | received, not yet     | room up to
//   | removed                   | taken                 | block.limit
//
// A mark that arrives with the bytes ahead of it (behind a fragment that is
// not the last, or behind a whole record) is taken out of the buffered
// bytes, which close up behind the record.
int RecordReader::consume(MbufCursor& block) noexcept {
    for (;;) {
        uint8_t* const at = block.pos + block.count;
        if (!inFragment_) {
            if (markBytes_ == 0 && fragments_ == wire::kMaxRecordFragments) return sockerr::kMessageSize;
            if (markBytes_ < 4 && buffered_ != 0) {
                const uint32_t take = std::min(4 - markBytes_, buffered_);
                std::memcpy(mark_ + markBytes_, at, take);
                markBytes_ += take;
                buffered_ -= take;
                if (buffered_ != 0) std::memmove(at, at + take, buffered_);
            }
            if (markBytes_ < 4) return kMoreBytes;
            const uint32_t word = wire::loadWord(mark_);
            left_ = wire::fragmentLength(word);
            last_ = wire::isLastFragment(word);
            // The whole fragment must fit behind what is there, checked
            // before a byte of it is taken (64 bits: no wrap).
            if (uint64_t{block.count} + left_ > block.limit) return sockerr::kMessageSize;
            ++fragments_;
            markBytes_ = 0;
            inFragment_ = true;
        }
        const uint32_t take = std::min(left_, buffered_);
        block.count += take;
        buffered_ -= take;
        left_ -= take;
        if (left_ > 0) return kMoreBytes;
        inFragment_ = false;
        if (last_) {
            fragments_ = 0;
            last_ = false;
            return 0;
        }
    }
}

int RecordReader::readAvailable(NativeSocket s, MbufCursor& block) noexcept {
    if (block.pos == nullptr) return sockerr::kFault;
    // Called again on the block of a whole record: what came behind it
    // moves to the block's start first.
    if (whole_ && !carry(block, block)) return sockerr::kMessageSize;
    if (!begun()) block.count = reach_ = 0;
    for (;;) {
        const int taken = consume(block);
        if (taken == 0) whole_ = true;
        if (taken != kMoreBytes) return taken;
        // All buffered bytes are taken now. One receive for as much as the
        // block has room for: between fragments the mark goes to mark_ and
        // what follows it straight into the block.
        uint8_t* const tail = block.pos + block.count;
        const std::size_t room = block.limit - block.count;
        std::size_t got = 0;
        const int rc = inFragment_ ? platform::receiveBytes(s, tail, room, got)
                                   : platform::receiveInTwo(s, mark_ + markBytes_, 4 - markBytes_, tail, room, got);
        if (rc != 0) return rc == sockerr::kInterrupted ? sockerr::kWouldBlock : rc;
        if (got == 0) return sockerr::kDisconnected;
        if (!inFragment_) {
            const uint32_t toMark = std::min<uint32_t>(static_cast<uint32_t>(got), 4 - markBytes_);
            markBytes_ += toMark;
            got -= toMark;
        }
        buffered_ = static_cast<uint32_t>(got);
        reach_ = std::max(reach_, block.count + buffered_);
    }
}

bool RecordReader::carry(const MbufCursor& from, MbufCursor& to) noexcept {
    if (buffered_ > to.limit || from.pos == nullptr || to.pos == nullptr) return false;
    if (buffered_ != 0) std::memmove(to.pos, from.pos + from.count, buffered_);
    reach_ = to.pos == from.pos ? std::max(reach_, buffered_) : buffered_;
    to.count = 0;
    whole_ = false;
    return true;
}

}  // namespace qelrpc::record
