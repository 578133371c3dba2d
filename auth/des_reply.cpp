// SPDX-License-Identifier: MIT
// The client's side of an AUTH_DES reply (RFC 1057 section 9.3): the server
// answers with its verifier, the call's timestamp minus one second
// encrypted under the conversation key, and the nickname the following
// calls may use.
#include "auth/des_reply.h"

#include <cstring>

#include "auth/des_cipher.h"
#include "xdr/wire.h"

namespace qelrpc::auth {

AuthDesCred* desCredential(RpcOperation& op) noexcept {
    RpcAuth* a = op.auth;
    if (a == nullptr || a->flavor != RPC_AUTH_DES || a->body == nullptr) return nullptr;
    return static_cast<AuthDesCred*>(a->body);
}

uint32_t fullNameCredLength(const AuthDesCred& c) noexcept {
    return static_cast<uint32_t>(20 + wire::padded(strnlen(c.netName, RPC_AUTHDES_NETNAME_MAX)));
}

bool takeAuthDesReplyVerifier(RpcOperation& op, const wire::Opaque& verifier) noexcept {
    AuthDesCred* c = desCredential(op);
    if (c == nullptr || verifier.length != kAuthDesVerifierLength) return false;
    uint8_t block[8];
    std::memcpy(block, verifier.data, 8);
    if (!des::ecb(c->convKey, block, 8, true)) return false;
    wire::Reader r(block, sizeof block);
    const uint32_t seconds = r.word() + 1;  // modulo 2^32
    const uint32_t microseconds = r.word();
    if (seconds != static_cast<uint32_t>(c->lastSeconds) || microseconds != static_cast<uint32_t>(c->lastUseconds))
        return false;
    c->nickname = wire::loadWord(verifier.data + 8);
    if (c->nameKind == RPC_AUTHDES_FULLNAME) {
        c->nameKind = RPC_AUTHDES_NICKNAME;
        op.auth->credLength = 8;
    }
    return true;
}

}  // namespace qelrpc::auth
