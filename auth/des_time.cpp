// SPDX-License-Identifier: MIT
// The time protocol (RFC 868): over TCP the server sends 4 bytes and closes;
// over UDP it answers any datagram with one datagram of 4 bytes. Both carry
// the seconds since 1900-01-01 00:00 UTC as a big-endian number.
#include "auth/des_time.h"

#include "platform/socket_errors.h"
#include "rpc/deadline.h"
#include "xdr/wire.h"

namespace qelrpc::auth {
namespace {

constexpr uint32_t kSecondsFrom1900To1970 = 2'208'988'800u;
constexpr std::size_t kAnswerBytes = 4;

bool connected(platform::NativeSocket s, uint64_t waitMicros) {
    unsigned ready = 0;
    if (platform::waitFor(s, platform::kWritable, waitMicros, ready) != 0) return false;
    if ((ready & platform::kWritable) == 0) return false;
    return platform::connectOutcome(s) == 0;
}

// Up to 4 bytes of a stream answer, until the peer closes or the time runs out.
std::size_t readStreamAnswer(platform::NativeSocket s, uint64_t waitMicros, uint8_t (&answer)[kAnswerBytes]) {
    const auto end = deadline::after(waitMicros);
    std::size_t have = 0;
    // Each round takes at least one byte, or ends the loop.
    for (int round = 0; round < static_cast<int>(kAnswerBytes) + 1 && have < kAnswerBytes; ++round) {
        unsigned ready = 0;
        if (platform::waitFor(s, platform::kReadable, deadline::microsUntil(end), ready) != 0 || ready == 0) break;
        std::size_t got = 0;
        const int rc = platform::receiveBytes(s, answer + have, kAnswerBytes - have, got);
        if (rc == platform::sockerr::kWouldBlock) continue;
        if (rc != 0 || got == 0) break;
        have += got;
    }
    return have;
}

}  // namespace

bool readTimeServiceAnswer(const uint8_t* bytes, std::size_t length, uint32_t& unixSeconds) noexcept {
    // Only the first word counts; whatever follows it is not looked at.
    wire::Reader r(bytes, static_cast<uint32_t>(length < kAnswerBytes ? length : kAnswerBytes));
    const uint32_t since1900 = r.word();
    if (!r.ok()) return false;
    unixSeconds = since1900 - kSecondsFrom1900To1970;  // modulo 2^32
    return true;
}

bool getServerTime(uint32_t addr, platform::SocketType type, uint64_t waitMicros, uint32_t& unixSeconds) noexcept {
    platform::Socket s;
    if (platform::openSocket(type, s, true) != 0) return false;
    const int c = platform::connectTo(s.get(), platform::Endpoint{addr, kTimeServicePort});

    uint8_t answer[kAnswerBytes] = {};
    std::size_t have = 0;
    if (type == platform::SocketType::Stream) {
        if (c != 0 && c != platform::sockerr::kWouldBlock && c != platform::sockerr::kInProgress) return false;
        if (!connected(s.get(), waitMicros)) return false;
        have = readStreamAnswer(s.get(), waitMicros, answer);
    } else {
        // A connected datagram socket hears of a refusal (an ICMP port
        // unreachable) instead of waiting out the time.
        if (c != 0) return false;
        std::size_t sent = 0;
        if (platform::sendBytes(s.get(), answer, 0, sent) != 0) return false;
        unsigned ready = 0;
        if (platform::waitFor(s.get(), platform::kReadable, waitMicros, ready) != 0 || ready == 0) return false;
        // A longer datagram is cut to its first 4 bytes.
        const int rc = platform::receiveBytes(s.get(), answer, kAnswerBytes, have);
        if (rc != 0 && rc != platform::sockerr::kMessageSize) return false;
    }
    return readTimeServiceAnswer(answer, have, unixSeconds);
}

}  // namespace qelrpc::auth
