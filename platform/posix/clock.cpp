// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <time.h>

namespace qelrpc::platform {

uint32_t unixTimeNow() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint32_t>(ts.tv_sec);
}

uint64_t monotonicMillis() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace qelrpc::platform
