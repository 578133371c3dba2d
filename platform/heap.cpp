// SPDX-License-Identifier: MIT
// The heap's out-of-line half: malloc and free behind the per-thread cache
// (platform/heap.h has the cache and its inline fast paths), the failure
// seam's count, and the cache's life on each thread.
#include "platform/heap.h"

#include <cstdlib>
#include <cstring>

namespace qelrpc::heap {
namespace cache {

#if QELRPC_HEAP_CACHE
constinit thread_local Cache t_cache QELRPC_TLS_FAST{};
#endif
std::atomic<long> g_budget{-1};

namespace {

bool mayAllocate() noexcept {
    long b = g_budget.load(std::memory_order_relaxed);
    while (b >= 0) {
        if (b == 0) return false;
        if (g_budget.compare_exchange_weak(b, b - 1, std::memory_order_relaxed)) return true;
    }
    return true;
}

#if QELRPC_HEAP_CACHE
void drain(Cache& c) noexcept {
    for (std::size_t k = 0; k < kClasses; ++k) {
        while (Header* b = c.head[k]) {
            c.head[k] = b->next;
            std::free(b);
        }
        c.count[k] = 0;
    }
}

// Touched once per thread, on its first cached release; its destructor
// empties the cache at thread exit and sends later releases to free.
struct Reaper {
    ~Reaper() {
        drain(t_cache);
        t_cache.state = State::Gone;
    }
};

bool startCache() noexcept {
    static thread_local Reaper reaper;
    (void)&reaper;
    t_cache.state = State::Live;
    return true;
}
#endif

inline std::size_t classOf(std::size_t size) noexcept {
    return size <= kLargestCached ? (size + kGranule - 1) / kGranule : 0;
}

}  // namespace

// The inline path found no cached block, or the size is not cached, or the
// failure seam is armed (then a cached block counts like any other).
void* takeSlow(std::size_t size) noexcept {
    if (size > SIZE_MAX - kHeader - kGranule) return nullptr;
    if (!mayAllocate()) return nullptr;
    if (size == 0) size = 1;
    const std::size_t k = classOf(size);
#if QELRPC_HEAP_CACHE
    if (k != 0) {
        if (void* p = popCached(k)) return p;
    }
#endif
    // A cached class is allocated at its full size so every block of the
    // class can serve every request of it.
    auto* h = static_cast<Header*>(std::malloc(kHeader + (k != 0 ? k * kGranule : size)));
    if (h == nullptr) return nullptr;
    h->sizeClass = k;
    return payload(h);
}

// The inline path could not cache the block: not of a cached class, its
// list full, or the thread's cache not started yet or already gone.
void releaseSlow(void* p) noexcept {
    Header* h = headerOf(p);
#if QELRPC_HEAP_CACHE
    const std::size_t k = h->sizeClass;
    Cache& c = t_cache;
    if (k != 0 && c.count[k] < kPerClass && (c.state == State::Live || (c.state == State::Unused && startCache()))) {
        pushCached(h, k);
        return;
    }
#endif
    std::free(h);
}

}  // namespace cache

void* zeroed(std::size_t size) noexcept {
    void* p = raw(size);
    // Only the asked-for bytes: the rest of the class is never read.
    if (p != nullptr) std::memset(p, 0, size);
    return p;
}

void failAfter(long successes) noexcept {
    cache::g_budget.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

}  // namespace qelrpc::heap
