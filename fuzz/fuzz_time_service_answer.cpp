// The time-service (RFC 868) answer reader over arbitrary bytes: it reads
// only the bytes it is given, refuses fewer than 4, and turns 4 or more into
// the first word less the seconds from 1900 to 1970.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "auth/des_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input, so a read past it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    uint32_t seconds = 0xDEADBEEF;
    const bool ok = qelrpc::auth::readTimeServiceAnswer(bytes.empty() ? nullptr : bytes.data(), size, seconds);
    if (ok != (size >= 4)) std::abort();
    if (!ok && seconds != 0xDEADBEEF) std::abort();
    if (ok) {
        const uint32_t word =
            (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
        if (seconds + 2208988800u != word) std::abort();
    }
    return 0;
}
