// SPDX-License-Identifier: MIT
// No Windows security interface here: back end 1 is never available, and
// every call says so (platform/sspi.h).
#include "platform/sspi.h"

namespace qelrpc::platform::sspi {

bool hasKerberos(const void*) noexcept { return false; }

SecStatus initContext(const void*, Session*& session, const char*, const uint8_t*, size_t, Bytes&) noexcept {
    session = nullptr;
    return kUnsupportedFunction;
}

void endSession(const void*, Session*& session) noexcept { session = nullptr; }

SecStatus sign(const void*, Session*, const void*, size_t, Bytes&) noexcept { return kUnsupportedFunction; }

SecStatus verify(const void*, Session*, const void*, size_t, const void*, size_t) noexcept {
    return kUnsupportedFunction;
}

SecStatus seal(const void*, Session*, const void*, size_t, Bytes&) noexcept { return kUnsupportedFunction; }

SecStatus unseal(const void*, Session*, const void*, size_t, Bytes&) noexcept { return kUnsupportedFunction; }

SecStatus defaultPrincipal(const void*, Bytes&) noexcept { return kUnsupportedFunction; }

}  // namespace qelrpc::platform::sspi
