// SPDX-License-Identifier: MIT
// The call engine's one way down to the credential flavors (AUTH_NULL,
// AUTH_UNIX, AUTH_DES, RPCSEC_GSS). Declared here so that rpc/ knows no
// flavor; defined once in auth/flavors.cpp, which holds the only switch over
// them.
#pragma once

#include <cstdint>

#include "qelrpc.h"
#include "xdr/wire.h"

namespace qelrpc::flavor {

// Writes op.auth's credential body and then its verifier (flavor word,
// length word, body) at `at`, the credential body's place in the call
// header, never past `end`, and leaves op.auth->credLength and verfLength
// equal to the body lengths written. The call words up to the credential
// flavor are in place already; a verifier that signs the header (RPCSEC_GSS)
// stores the credential length word itself. 0, or the status the header
// preparation reports: 87 for an unknown flavor or a body that does not fit.
int writeCredential(RpcOperation& op, uint8_t* at, const uint8_t* end) noexcept;

// Checks the verifier of an accepted reply against the call's credential,
// and takes what it brings (AUTH_DES: the server's nickname). 0, or the
// reply check's status: a verifier not of the flavor the call demands, an
// unknown flavor, or one that does not authenticate.
int checkReplyVerifier(RpcOperation& op, const wire::OpaqueAuth& verifier) noexcept;

// Releases the credential record and what its body owns. Null is fine.
void release(RpcAuth* auth) noexcept;

// Before a port look-up: a credential that changed form after its first
// reply (AUTH_DES's nickname) goes back to the form a new server accepts.
void resetForPortLookup(RpcOperation& op) noexcept;

}  // namespace qelrpc::flavor
