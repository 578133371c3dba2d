// SPDX-License-Identifier: MIT
#include "rpc/record_marking.h"

#include <algorithm>

#include "platform/socket_errors.h"
#include "xdr/wire.h"

namespace qelrpc::record {

using deadline::Clock;
using platform::NativeSocket;
namespace sockerr = platform::sockerr;

namespace {

// Windows' select takes its seconds as a long: no single wait is longer
// than a day, a longer bound just waits again.
constexpr uint64_t kLongestWaitMicros = 86'400'000'000;

// Sends or receives exactly n bytes at p. What the socket has at once (bytes
// to read, room to write) is taken at once; only an empty or full socket
// costs a wait.
int transfer(NativeSocket s, uint8_t* p, uint32_t n, const Bounds& b, bool sending) {
    while (n > 0) {
        std::size_t done = 0;
        int rc = sending ? platform::sendBytes(s, p, n, done) : platform::receiveBytes(s, p, n, done);
        if (rc == 0) {
            if (done == 0 && !sending) return sockerr::kDisconnected;
            p += done;
            n -= static_cast<uint32_t>(done);
            continue;
        }
        if (!mustWait(rc)) return rc;
        const Clock::time_point end =
            b.silenceMicros == kNoSilenceLimit ? b.end : std::min(deadline::after(b.silenceMicros), b.end);
        rc = waitUntil(s, sending ? platform::kWritable : platform::kReadable, end);
        if (rc != 0) return rc == sockerr::kTimedOut ? b.timedOut : rc;
    }
    return 0;
}

}  // namespace

int waitUntil(NativeSocket s, unsigned events, Clock::time_point end) noexcept {
    for (;;) {
        const uint64_t left = deadline::microsUntil(end);
        if (left == 0) return sockerr::kTimedOut;
        unsigned ready = 0;
        const int rc = platform::waitFor(s, events, std::min(left, kLongestWaitMicros), ready);
        if (rc != 0 || ready != 0) return rc;
    }
}

int readRecord(NativeSocket s, MbufCursor& block, const Bounds& b) noexcept {
    // The piecewise reader below, waiting whenever the socket runs dry.
    // Each of its runs is bounded in bytes (the block) and in fragments
    // (the cap), so a peer that keeps the socket full is bound too.
    RecordReader reader;
    block.count = 0;
    for (;;) {
        const int rc = reader.readAvailable(s, block);
        if (!mustWait(rc)) return rc;
        if (Clock::now() >= b.end) return b.timedOut;
        const Clock::time_point end =
            b.silenceMicros == kNoSilenceLimit ? b.end : std::min(deadline::after(b.silenceMicros), b.end);
        const int waited = waitUntil(s, platform::kReadable, end);
        if (waited != 0) return waited == sockerr::kTimedOut ? b.timedOut : waited;
    }
}

int sendRecord(NativeSocket s, uint8_t* bytes, uint32_t length, const Bounds& b) noexcept {
    wire::storeWord(bytes, wire::lastFragmentMark(length - 4));
    return transfer(s, bytes, length, b, true);
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

int RecordReader::readAvailable(NativeSocket s, MbufCursor& block) noexcept {
    if (block.pos == nullptr) return sockerr::kFault;
    if (!begun()) block.count = 0;
    for (;;) {
        if (!inFragment_) {
            if (markBytes_ == 0 && fragments_ == wire::kMaxRecordFragments) return sockerr::kMessageSize;
            std::size_t got = 0;
            const int rc = platform::receiveBytes(s, mark_ + markBytes_, 4 - markBytes_, got);
            if (rc != 0) return rc == sockerr::kInterrupted ? sockerr::kWouldBlock : rc;
            if (got == 0) return sockerr::kDisconnected;
            markBytes_ += static_cast<uint32_t>(got);
            if (markBytes_ < 4) continue;
            const uint32_t word = wire::loadWord(mark_);
            left_ = wire::fragmentLength(word);
            last_ = wire::isLastFragment(word);
            // The whole fragment must fit behind what is there, checked
            // before a byte of it is read (64 bits: no wrap).
            if (uint64_t{block.count} + left_ > block.limit) return sockerr::kMessageSize;
            ++fragments_;
            markBytes_ = 0;
            inFragment_ = true;
        }
        if (left_ > 0) {
            std::size_t got = 0;
            const int rc = platform::receiveBytes(s, block.pos + block.count, left_, got);
            if (rc != 0) return rc == sockerr::kInterrupted ? sockerr::kWouldBlock : rc;
            if (got == 0) return sockerr::kDisconnected;
            block.count += static_cast<uint32_t>(got);
            left_ -= static_cast<uint32_t>(got);
            if (left_ > 0) continue;
        }
        inFragment_ = false;
        if (last_) {
            fragments_ = 0;
            last_ = false;
            return 0;
        }
    }
}

}  // namespace qelrpc::record
