// SPDX-License-Identifier: MIT
// The MIC and seal steps of RPCSEC_GSS as the library's own code calls
// them: the header writer, the context set-up and destroy, and the reply
// check use these rather than the exported names.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::gss {

class Mechanism;

// The RPCSEC_GSS record of op, or null (no credential, another flavor, or
// no record).
AuthGssCred* recordOf(RpcOperation* op) noexcept;

// A MIC of len bytes into mic (room bytes); *micLen its length. 0, -1,
// -12 (too small), or the mapped major status (-7, -17, -18, -19).
int getMic(const Mechanism& m, RpcGssContext context, const void* data, uint32_t len, void* mic, uint32_t room,
           uint32_t& micLen) noexcept;

// 0 when mic is a MIC of data; -23, -18 or -6 otherwise.
int verifyMic(const Mechanism& m, RpcGssContext context, const void* data, uint32_t len, const void* mic, uint32_t micLen) noexcept;

// True when op's credential is RPCSEC_GSS and past its set-up (INIT,
// CONTINUE_INIT): its calls, DATA and DESTROY, are answered with the MIC of
// their sequence number.
bool onEstablishedContext(RpcOperation& op) noexcept;

// Checks the RPCSEC_GSS verifier of a reply to a DATA or DESTROY call: the
// MIC of the call's sequence number (RFC 2203 section 5.3.3.2). True when
// it matches, or during the set-up (nothing to check against here); false
// when it does not match, or the context or back end is gone.
bool replyVerifierMatches(RpcOperation& op, const uint8_t* body, uint32_t length) noexcept;

}  // namespace qelrpc::gss
