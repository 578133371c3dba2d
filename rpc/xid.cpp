// SPDX-License-Identifier: MIT
#include "rpc/xid.h"

#include <atomic>
#include <chrono>

#include "platform/random.h"

namespace qelrpc::xid {
namespace {
// 0 is never an id, so it marks a counter that has not been seeded yet.
std::atomic<uint32_t> g_next{0};

constexpr uint32_t after(uint32_t x) { return x == UINT32_MAX ? 1 : x + 1; }

// 32 random bits; should the source fail, the clock and an address of this
// load still keep processes apart better than one fixed start would.
uint32_t randomStart() noexcept {
    uint32_t v = 0;
    if (!platform::randomBytes(&v, sizeof v)) {
        const auto t = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                       static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        uint64_t mix = t ^ reinterpret_cast<uintptr_t>(&g_next);
        mix ^= mix >> 33;
        mix *= 0xff51afd7ed558ccdULL;
        mix ^= mix >> 33;
        v = static_cast<uint32_t>(mix);
    }
    return v == 0 ? 1 : v;
}
}  // namespace

uint32_t take() noexcept {
    uint32_t cur = g_next.load(std::memory_order_relaxed);
    if (cur == 0) {
        // First use in this process: seed once. A thread that loses the race
        // goes on from the winner's seed.
        const uint32_t seed = randomStart();
        if (g_next.compare_exchange_strong(cur, seed, std::memory_order_relaxed)) cur = seed;
    }
    while (!g_next.compare_exchange_weak(cur, after(cur), std::memory_order_relaxed)) {
    }
    return cur;
}

void setNext(uint32_t next) noexcept { g_next.store(next == 0 ? 1 : next, std::memory_order_relaxed); }

}  // namespace qelrpc::xid
