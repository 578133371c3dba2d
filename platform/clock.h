// SPDX-License-Identifier: MIT
// Clocks: wall time for credential stamps, a monotonic clock for timeouts.
#pragma once

#include <cstdint>

namespace qelrpc::platform {

// Seconds since 1970-01-01 00:00 UTC.
uint32_t unixTimeNow() noexcept;

// Milliseconds on a clock that never goes back.
uint64_t monotonicMillis() noexcept;

}  // namespace qelrpc::platform
