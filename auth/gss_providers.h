// SPDX-License-Identifier: MIT
// Loading and releasing the GSS-API back ends, once per process, from the
// library's load and unload.
#pragma once

#include "qelrpc.h"

namespace qelrpc::gss {

// The security interface's function table when its Kerberos package
// answered at load, else null (back end 1 cannot carry RPCSEC_GSS).
const void* sspiKerberosTable() noexcept;

// Test seam: back end 1 stops carrying RPCSEC_GSS until the next load
// (IsGSSAvailable keeps its answer).
void hideSecurityInterfaceForTesting() noexcept;

}  // namespace qelrpc::gss

namespace qelrpc::auth {

void loadGssProviders() noexcept;
void unloadGssProviders() noexcept;

// Test seam (test builds only, docs/ARCHITECTURE.md, "The C edge"): the
// MIT back end is loaded from `path` (kept, not copied) in place of the
// system's library by every later loadGssProviders; null goes back to the
// system's.
void useMitGssLibraryForTesting(const char* path) noexcept;

}  // namespace qelrpc::auth
