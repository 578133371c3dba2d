// SPDX-License-Identifier: MIT
// What the reply check needs from the AUTH_DES flavor: the verifier check
// with the nickname the server assigns, the record and its full-name length.
#pragma once

#include <cstdint>

#include "qelrpc.h"
#include "xdr/wire.h"

namespace qelrpc::auth {

// The AUTH_DES record of op, or null (no credential, another flavor, or no
// record); and the length of its full-name credential body.
AuthDesCred* desCredential(RpcOperation& op) noexcept;
uint32_t fullNameCredLength(const AuthDesCred& c) noexcept;

// The 12 bytes of an AUTH_DES verifier, the call's and the server's.
constexpr uint32_t kAuthDesVerifierLength = 12;

// Checks an AUTH_DES reply verifier against the operation's credential and
// stores the server's nickname: the following calls carry the short form.
// False when it is not 12 bytes, its timestamp does not match, or the
// operation carries no usable AUTH_DES credential.
bool takeAuthDesReplyVerifier(RpcOperation& op, const wire::Opaque& verifier) noexcept;

}  // namespace qelrpc::auth
