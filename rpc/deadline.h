// SPDX-License-Identifier: MIT
// Deadlines on the monotonic clock, for the waits of the client exchanges
// and broadcasts: each wait asks how much of its bound is left, so no number
// of wake-ups can stretch it.
#pragma once

#include <chrono>
#include <cstdint>

namespace qelrpc::deadline {

using Clock = std::chrono::steady_clock;

inline Clock::time_point after(uint64_t us) { return Clock::now() + std::chrono::microseconds(us); }

// Microseconds until the deadline; 0 once it has passed.
inline uint64_t microsUntil(Clock::time_point deadline) {
    const auto now = Clock::now();
    if (now >= deadline) return 0;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count());
}

}  // namespace qelrpc::deadline
