// The credential writers of the flavors whose bodies are not plain data,
// reached through the call engine's seam (auth/flavors.cpp). The call header
// writer has them called at the credential body's position; each
// writes the credential body and then the verifier (flavor word, length word,
// body), never past `end`, and leaves credLength and verfLength equal to the
// body lengths it wrote. Each returns 0, or the status the header preparation
// reports (the header is then not written). The call words in front of the
// credential (xid to credential flavor) are already in place when a writer
// runs; a writer whose verifier signs the header (RPCSEC_GSS) also stores
// the credential length word itself.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::auth {

int writeAuthDesCred(RpcOperation& op, uint8_t* p, const uint8_t* end) noexcept;
int writeRpcsecGssCred(RpcOperation& op, uint8_t* p, const uint8_t* end) noexcept;

// Release what a flavor record owns, then the record itself.
void releaseAuthDesBody(void* body) noexcept;
void releaseRpcsecGssBody(void* body) noexcept;

}  // namespace qelrpc::auth
