// SPDX-License-Identifier: MIT
// The time limits of the exchanges. Fixed for callers; tests shorten them
// through the seam below so that most of them do not wait out real seconds.
#pragma once

#include <cstdint>

namespace qelrpc::exchange {

struct Limits {
    uint64_t udpWaitMicros = 1'000'000;      // wait after each UDP transmission
    unsigned udpSends = 5;                   // transmissions before giving up
    uint64_t tcpSilenceMicros = 20'000'000;  // longest silence while a TCP reply is due
    // The whole of a TCP exchange after its connect: the call's send and the
    // complete reply. A 64 KiB reply needs about 5 s even at 100 kbit/s.
    uint64_t tcpExchangeMicros = 120'000'000;
    uint64_t connectPollMicros = 250;        // how often a pending connect looks at the cancel flag
};

Limits limits() noexcept;

// Test seam: replaces the limits for the whole process; resetLimits restores
// the defaults above.
void setLimits(const Limits& l) noexcept;
void resetLimits() noexcept;

}  // namespace qelrpc::exchange
