// SPDX-License-Identifier: MIT
// The credential writers and releases of the flavors whose records are not
// plain data, behind the call engine's seam (auth/flavors.cpp). A writer
// keeps flavor::writeCredential's contract (rpc/flavor.h); RPCSEC_GSS's,
// whose verifier signs the header, also stores the credential length word.
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
