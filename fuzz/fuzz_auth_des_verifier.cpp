// SPDX-License-Identifier: MIT
// ProcessRPCResponse over arbitrary reply bytes for an operation carrying an
// AUTH_DES credential whose last call had a known conversation key and
// timestamp, so the inputs can reach the verifier check (DES decryption of
// the server's timestamp) and the move to the nickname. The reply block is
// exactly the input, in read-only memory that ends where a guard page
// begins; the operation record, the RpcAuth and the AuthDesCred the check
// writes (copies of the ones rpcCreateAuthDES made) lie between guard
// pages. Whatever the bytes: the result is one of the reply check's codes,
// the credential moves to the nickname form only on a verifier that passed,
// an accepted outcome needs the AUTH_DES verifier, and its full-name fields
// never change.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

namespace {

// The credential's state after its last full-name header, fixed so that a
// seed can carry a verifier that passes: key 0123456789ABCDEF, timestamp
// 1,000,000,000 seconds and 0 microseconds.
constexpr uint8_t kConvKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
constexpr int32_t kLastSeconds = 1'000'000'000;
constexpr const char* kServerPublic = "3";
constexpr const char* kClientSecret = "1234567890abcdef1234567890abcdef1234567890abcdef";

RpcAuth* credential() {
    static RpcOperation maker{};
    static bool made = rpcCreateAuthDES(&maker, "unix.1001@fuzz", kServerPublic, kClientSecret) == 1;
    if (!made) std::abort();
    return maker.auth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput opArea(sizeof(RpcOperation)), authArea(sizeof(RpcAuth)),
        credArea(sizeof(AuthDesCred));
    const RpcAuth* made = credential();
    auto* cred = credArea.zeroed<AuthDesCred>();
    *cred = *static_cast<const AuthDesCred*>(made->body);
    std::memcpy(cred->convKey, kConvKey, 8);
    cred->lastSeconds = kLastSeconds;
    cred->lastUseconds = 0;
    cred->nameKind = RPC_AUTHDES_FULLNAME;
    cred->nickname = 0;
    RpcAuth* auth = authArea.zeroed<RpcAuth>();
    *auth = *made;
    auth->body = cred;
    auth->credLength = 36;
    const AuthDesCred before = *cred;

    const uint8_t* reply = input.place(data, size);
    RpcOperation* op = opArea.zeroed<RpcOperation>();
    op->auth = auth;
    // The library reads a received reply in place; it never writes it.
    op->reply.block.pos = const_cast<uint8_t*>(reply);
    op->reply.block.count = static_cast<uint32_t>(size);
    op->reply.block.limit = static_cast<uint32_t>(size);

    const int rc = ProcessRPCResponse(op);
    if (op->auth != auth || auth->body != cred) std::abort();
    if (rc != 0 && rc != -2 && rc != -3 && rc != -4 && rc != -99 && rc > -5) std::abort();
    {
        // Only a reply with a 12-byte AUTH_DES verifier is taken as accepted:
        // anything else authenticates no server (-98, or -4 for another size).
        const uint8_t* r = reply;
        const bool accepted = rc == 0 || (rc <= -5 && rc != -98 && rc != -99);
        const bool des12 = size >= 20 && r[12] == 0 && r[13] == 0 && r[14] == 0 && r[15] == 3 && r[16] == 0 &&
                           r[17] == 0 && r[18] == 0 && r[19] == 12;
        if (accepted && !des12) std::abort();
    }
    // Everything but the nickname and its form is as it was.
    if (std::memcmp(cred->netName, before.netName, sizeof before.netName) != 0 ||
        std::memcmp(cred->convKey, before.convKey, 8) != 0 || std::memcmp(cred->commonKey, before.commonKey, 8) != 0 ||
        cred->lastSeconds != before.lastSeconds || cred->lastUseconds != before.lastUseconds)
        std::abort();
    if (cred->nameKind == RPC_AUTHDES_NICKNAME) {
        // Only an accepted reply whose AUTH_DES verifier passed gets here.
        const uint8_t* r = reply;
        const bool desVerifier = size >= 32 && r[12] == 0 && r[13] == 0 && r[14] == 0 && r[15] == 3;
        const uint32_t nickname = uint32_t{r[28]} << 24 | uint32_t{r[29]} << 16 | uint32_t{r[30]} << 8 | r[31];
        if (!desVerifier || cred->nickname != nickname || auth->credLength != 8) std::abort();
    } else if (cred->nameKind != RPC_AUTHDES_FULLNAME || auth->credLength != 36 || cred->nickname != 0) {
        std::abort();
    }
    return 0;
}
