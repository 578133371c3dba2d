// SPDX-License-Identifier: MIT
// Clocks: wall time for credential stamps, a monotonic clock for timeouts.
// The standard clocks serve both systems: since C++20 the system clock
// counts from the Unix epoch, and the steady clock never goes back.
#pragma once

#include <chrono>
#include <cstdint>

namespace qelrpc::platform {

// Seconds since 1970-01-01 00:00 UTC.
inline uint32_t unixTimeNow() noexcept {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count());
}

// Milliseconds on a clock that never goes back.
inline uint64_t monotonicMillis() noexcept {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

}  // namespace qelrpc::platform
