// SPDX-License-Identifier: MIT
// The call engine's one way down to the credential flavors (AUTH_NULL,
// AUTH_UNIX, AUTH_DES, RPCSEC_GSS): declared here so that rpc/ knows no
// flavor, defined once in auth/flavors.cpp, the only switch over them.
#pragma once

#include <cstdint>

#include "qelrpc.h"
#include "xdr/wire.h"

namespace qelrpc::flavor {

// Writes op.auth's credential body, then its verifier, at `at` (the call
// header's credential body) and never past `end`; sets credLength and
// verfLength. 0, or the header's status (87: unknown flavor, no room).
int writeCredential(RpcOperation& op, uint8_t* at, const uint8_t* end) noexcept;

// Checks an accepted reply's verifier against the call's credential and
// takes what it brings (AUTH_DES: the nickname). 0, or the reply check's
// status (-98, -99, -4).
int checkReplyVerifier(RpcOperation& op, const wire::OpaqueAuth& verifier) noexcept;

// Releases the credential record and what its body owns; null is fine.
void release(RpcAuth* auth) noexcept;

// Before a port look-up: AUTH_DES goes back from its nickname to the full
// name a new server accepts.
void resetForPortLookup(RpcOperation& op) noexcept;

}  // namespace qelrpc::flavor
