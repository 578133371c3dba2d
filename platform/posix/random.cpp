// SPDX-License-Identifier: MIT
#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace qelrpc::platform {

bool randomBytes(void* out, std::size_t n) noexcept {
    auto* p = static_cast<uint8_t*>(out);
    // Small requests are served whole; the bound keeps a misbehaving source
    // from holding the caller forever.
    for (int tries = 0; n > 0 && tries < 64; ++tries) {
        const ssize_t got = ::getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return n == 0;
}

}  // namespace qelrpc::platform
