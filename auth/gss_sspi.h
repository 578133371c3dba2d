// SPDX-License-Identifier: MIT
// Back end 1's own logic (auth/gss_sspi.cpp): how a host-based service
// name and a SECURITY_STATUS become what the rest of RPCSEC_GSS speaks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sspi.h"

namespace qelrpc::gss::sspi {

// The GSS major status a SECURITY_STATUS stands for (RFC 2744 section
// 3.9.1): no credential, expired context, bad signature, no context ...;
// anything unnamed is a failure.
uint32_t majorOf(platform::sspi::SecStatus s) noexcept;

// The RFC 2743 host-based name service@host as the Kerberos package's
// service principal name service/host, into out (room bytes with the
// NUL). A name that already has a '/' is kept; false when service or host
// is empty or the name does not fit.
bool servicePrincipalName(const char* target, char* out, size_t room) noexcept;

}  // namespace qelrpc::gss::sspi
