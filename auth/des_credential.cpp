// SPDX-License-Identifier: MIT
// AUTH_DES credentials (RFC 1057 section 9.3, RFC 2695): attaching one to
// an operation and writing its credential and verifier into a call header.
//
// Full-name credential (flavor 3):     Nickname credential (flavor 3):
//   0  name kind = 0                     0  name kind = 1
//   4  net name length n                 4  nickname
//   8  net name, zero-padded to P
//   8+P  conversation key, encrypted under the common key (8 bytes)
//   16+P encrypted window (4 bytes)
//
// Verifier (flavor 3, 12 bytes): the encrypted timestamp (8 bytes), then
// for the full name the encrypted window - 1, for the nickname the word 0.
//
// The full name encrypts the words (timestamp seconds, microseconds,
// window, window - 1) in CBC mode from a zero vector under the conversation
// key; the nickname encrypts (seconds, microseconds) in ECB mode.
// Timestamps are on the server's clock.
#include <cstring>

#include "auth/des_cipher.h"
#include "auth/des_reply.h"
#include "auth/des_time.h"
#include "auth/flavor_writers.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "platform/heap.h"
#include "qelrpc.h"
#include "rpc/credentials.h"
#include "rpc/status.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

constexpr uint32_t kNicknameCredLength = 8;
constexpr std::size_t kKeyTextMax = 255;
constexpr uint32_t kLastMicrosecond = 999'999;

bool resolved(uint32_t a) { return a != 0 && a != 0xFFFFFFFFu; }

// A caller's text of at most max characters (looked at no further).
bool fits(const char* text, std::size_t max) { return strnlen(text, max + 1) <= max; }

// The server's clock, learned once per operation from its time service:
// over TCP first, then over UDP. While neither answers, the local clock
// stands in and the next header asks again.
uint32_t serverNow(RpcOperation& op) {
    if (op.timeOffset == RPC_TIME_OFFSET_UNKNOWN && resolved(op.hostAddr)) {
        uint32_t server = 0;
        if (auth::getServerTime(op.hostAddr, platform::SocketType::Stream, auth::kTimeServiceWaitMicros, server) ||
            auth::getServerTime(op.hostAddr, platform::SocketType::Datagram, auth::kTimeServiceWaitMicros, server))
            op.timeOffset = static_cast<int32_t>(server - platform::unixTimeNow());
    }
    const uint32_t local = platform::unixTimeNow();
    if (op.timeOffset == RPC_TIME_OFFSET_UNKNOWN) return local;
    return local + static_cast<uint32_t>(op.timeOffset);
}

}  // namespace

namespace qelrpc::auth {

int writeAuthDesCred(RpcOperation& op, uint8_t* p, const uint8_t* end) noexcept {
    AuthDesCred* record = desCredential(op);
    if (record == nullptr) return status::kInvalidParameter;
    auto& c = *record;
    RpcAuth* a = op.auth;
    const bool full = c.nameKind != RPC_AUTHDES_NICKNAME;
    const auto nameLength = static_cast<uint32_t>(strnlen(c.netName, RPC_AUTHDES_NETNAME_MAX));
    const uint32_t credLength = full ? fullNameCredLength(c) : kNicknameCredLength;
    if (uint64_t{credLength} + 8 + kAuthDesVerifierLength > static_cast<uint64_t>(end - p))
        return status::kInvalidParameter;

    const uint32_t seconds = serverNow(op);

    // Everything is computed first and kept only when the ciphers succeeded,
    // so a failure leaves the credential as it was.
    uint8_t convKey[8];
    uint8_t encConvKey[8];
    std::memcpy(convKey, c.convKey, 8);
    if (full) {
        // A new conversation key for every full-name credential, from the
        // system's random source: a key derived from the clock could be
        // guessed by anyone who saw the call go by.
        if (!platform::randomBytes(convKey, sizeof convKey)) return RPC_ERROR_ENCRYPTION_FAILED;
        des::setParity(convKey);
        std::memcpy(encConvKey, convKey, 8);
        if (!des::ecb(c.commonKey, encConvKey, 8, false)) return RPC_ERROR_ENCRYPTION_FAILED;
    }
    // Servers refuse a timestamp that is not later than the last one they
    // saw (a replay), so calls within one second count up the microseconds.
    const uint32_t lastSeconds = static_cast<uint32_t>(c.lastSeconds);
    const uint32_t lastMicros = static_cast<uint32_t>(c.lastUseconds);
    const uint32_t micros = seconds == lastSeconds && lastMicros < kLastMicrosecond ? lastMicros + 1 : 0;
    uint8_t block[16] = {};
    wire::Writer clear(MbufCursor{0, sizeof block, block}, 0);
    clear.word(seconds);
    clear.word(micros);
    if (full) {
        clear.word(RPC_AUTHDES_WINDOW);
        clear.word(RPC_AUTHDES_WINDOW - 1);
        if (!des::cbcEncrypt(convKey, block, 16)) return RPC_ERROR_ENCRYPTION_FAILED;
    } else if (!des::ecb(convKey, block, 8, false)) {
        return RPC_ERROR_ENCRYPTION_FAILED;
    }

    // Room was checked above, before the time service was asked.
    wire::Writer w(MbufCursor{0, static_cast<uint32_t>(end - p), p}, 0);
    w.word(full ? RPC_AUTHDES_FULLNAME : RPC_AUTHDES_NICKNAME);
    if (full) {
        w.opaque(c.netName, nameLength);
        w.fixedOpaque(encConvKey, 8);
        w.fixedOpaque(block + 8, 4);
    } else {
        w.word(c.nickname);
    }
    w.word(RPC_AUTH_DES);
    w.word(kAuthDesVerifierLength);
    w.fixedOpaque(block, 8);
    if (full) w.fixedOpaque(block + 12, 4);
    else w.word(0);

    if (full) {
        std::memcpy(c.convKey, convKey, 8);
        std::memcpy(c.encConvKey, encConvKey, 8);
        c.nameKind = RPC_AUTHDES_FULLNAME;
    }
    c.lastSeconds = static_cast<int32_t>(seconds);
    c.lastUseconds = static_cast<int32_t>(micros);
    a->credLength = credLength;
    a->verfFlavor = RPC_AUTH_DES;
    a->verfLength = kAuthDesVerifierLength;
    return status::kOk;
}

void releaseAuthDesBody(void* body) noexcept {
    // The keys do not outlive the record.
    if (body != nullptr) {
        volatile uint8_t* b = static_cast<uint8_t*>(body);
        for (std::size_t i = 0; i < sizeof(AuthDesCred); ++i) b[i] = 0;
    }
    heap::release(body);
}

}  // namespace qelrpc::auth

extern "C" {

int rpcCreateAuthDES(RpcOperation* op, const char* netName, const char* serverPublicKey,
                     const char* clientSecretKey) {
    if (op == nullptr || netName == nullptr || serverPublicKey == nullptr || clientSecretKey == nullptr) return 0;
    // Refused before anything is copied: each has a 256-byte field.
    if (!fits(netName, RPC_AUTHDES_NETNAME_MAX) || !fits(serverPublicKey, kKeyTextMax) ||
        !fits(clientSecretKey, kKeyTextMax))
        return 0;

    op->auth = nullptr;
    auto a = credentials::makeZeroed<RpcAuth>();
    if (a == nullptr) return 0;
    auto c = credentials::makeZeroed<AuthDesCred>(auth::releaseAuthDesBody);
    if (c == nullptr) return 0;
    std::memcpy(c->netName, netName, strnlen(netName, RPC_AUTHDES_NETNAME_MAX));
    if (!auth::des::commonKey(clientSecretKey, serverPublicKey, c->commonKey)) return 0;
    c->nameKind = RPC_AUTHDES_FULLNAME;
    a->flavor = RPC_AUTH_DES;
    a->credLength = auth::fullNameCredLength(*c);
    a->verfFlavor = RPC_AUTH_DES;
    a->verfLength = auth::kAuthDesVerifierLength;
    a->body = c.release();
    op->auth = a.release();
    return 1;
}

}  // extern "C"
