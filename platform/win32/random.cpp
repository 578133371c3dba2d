// SPDX-License-Identifier: MIT
#include "platform/random.h"

#include <windows.h>
// RtlGenRandom (advapi32's SystemFunction036), present since Windows XP.
#include <ntsecapi.h>

namespace qelrpc::platform {

bool randomBytes(void* out, std::size_t n) noexcept {
    return RtlGenRandom(out, static_cast<ULONG>(n)) != FALSE;
}

}  // namespace qelrpc::platform
