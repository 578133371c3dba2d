// SPDX-License-Identifier: MIT
// The time-service (RFC 868) answer reader over arbitrary bytes: it reads
// only the bytes it is given, refuses fewer than 4, and turns 4 or more into
// the first word less the seconds from 1900 to 1970. No exported function
// takes these bytes from a caller (rpcCreateAuthDES reads them from the
// server's port 37 itself), so the target calls the reader that exchange
// uses. The answer lies in read-only memory that ends where a guard page
// begins, and the result between guard pages.
#include <cstdint>
#include <cstdlib>

#include "auth/des_time.h"
#include "fuzz/fuzz_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static fuzzmem::ReadOnlyInput input(4096);
    static fuzzmem::GuardedOutput out(sizeof(uint32_t));
    const uint8_t* bytes = input.place(data, size);
    uint32_t& seconds = *out.zeroed<uint32_t>();
    seconds = 0xDEADBEEF;
    const bool ok = qelrpc::auth::readTimeServiceAnswer(size == 0 ? nullptr : bytes, size, seconds);
    if (ok != (size >= 4)) std::abort();
    if (!ok && seconds != 0xDEADBEEF) std::abort();
    if (ok) {
        const uint32_t word =
            (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
        if (seconds + 2208988800u != word) std::abort();
    }
    return 0;
}
