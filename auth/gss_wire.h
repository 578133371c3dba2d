// SPDX-License-Identifier: MIT
// Readers of the RPCSEC_GSS bytes a server sends: the results of a
// context-creation call (rpc_gss_init_res, RFC 2203 section 5.2.3.1) and the
// verifier of a reply. Both take their bound from the bytes received and
// read nothing past it.
#pragma once

#include <cstdint>

#include "qelrpc.h"
#include "xdr/wire.h"

namespace qelrpc::gss {

// rpc_gss_init_res, in the reply's data window:
//
//   handle      opaque<>   length word, bytes, zero padding to 4
//   gss_major   word
//   gss_minor   word
//   seq_window  word       (its four wire bytes are what the verifier signs)
//   gss_token   opaque<>
//
// The pointers point into the window. A handle longer than
// RPCSEC_GSS_MAX_HANDLE cannot be sent back in a credential and is refused.
struct InitResult {
    wire::Opaque handle;
    uint32_t major = 0;
    uint32_t minor = 0;
    const uint8_t* seqWindow = nullptr;  // 4 bytes
    wire::Opaque token;
};

// True when the window holds a whole rpc_gss_init_res; the window is not
// moved.
bool readInitResult(const MbufCursor& window, InitResult& out) noexcept;

// The verifier of an accepted reply of `length` bytes at `reply` (the
// block's start: xid, REPLY, MSG_ACCEPTED, flavor, length, body). False for
// any other message, or a body longer than 400 bytes or the bytes received
// (the body's padding is not required).
bool readReplyVerifier(const uint8_t* reply, uint32_t length, wire::OpaqueAuth& out) noexcept;

}  // namespace qelrpc::gss
