// What the reply check needs from the AUTH_DES flavor: the verifier check,
// the nickname the server assigns, and the return to the full-name form
// before a new port look-up.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::auth {

// The AUTH_DES record of op, or null (no credential, another flavor, or no
// record); and the length of its full-name credential body.
AuthDesCred* desCredential(RpcOperation& op) noexcept;
uint32_t fullNameCredLength(const AuthDesCred& c) noexcept;

// Checks the 8-byte encrypted timestamp of an AUTH_DES reply verifier
// against the operation's credential. False when it does not match or the
// operation carries no usable AUTH_DES credential.
bool checkAuthDesReplyVerifier(RpcOperation& op, const uint8_t timestamp[8]) noexcept;

// Stores the server's nickname; the following calls carry the short form.
void useAuthDesNickname(RpcOperation& op, uint32_t nickname) noexcept;

// Puts an AUTH_DES credential back into its full-name form.
void restoreAuthDesFullName(RpcOperation& op) noexcept;

}  // namespace qelrpc::auth
