// SPDX-License-Identifier: MIT
#include "platform/heap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// XDR decodes allocate and release many small blocks (strings, counted
// bytes, arrays) in quick succession, and malloc/free dominated their cost.
// Blocks of up to kLargestCached bytes therefore come from a per-thread
// cache of free blocks, one list per 16-byte size class. Every block carries
// a 16-byte header holding its class (0: not cached, straight to free), so
// release needs no lookup and a block may go back on any thread: it simply
// joins that thread's cache. Each list holds at most kPerClass blocks; the
// rest go to free. A thread's cache is emptied when the thread ends.

#if defined(__GNUC__) && !defined(_WIN32)
// The library is linked, not loaded late, by its users; the small static TLS
// block saves a __tls_get_addr call on every allocation.
#define QELRPC_TLS_FAST __attribute__((tls_model("initial-exec")))
#else
#define QELRPC_TLS_FAST
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QELRPC_HEAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QELRPC_HEAP_ASAN 1
#endif
#endif
#ifdef QELRPC_HEAP_ASAN
#include <sanitizer/asan_interface.h>
// A cached block's payload is poisoned, so AddressSanitizer still reports a
// use after release that reuse would otherwise hide.
#define QELRPC_HEAP_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QELRPC_HEAP_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QELRPC_HEAP_POISON(p, n) ((void)(p), (void)(n))
#define QELRPC_HEAP_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace qelrpc::heap {
namespace {
// Negative: never fail. Otherwise the number of allocations still allowed.
std::atomic<long> g_budget{-1};

bool mayAllocate() noexcept {
    long b = g_budget.load(std::memory_order_relaxed);
    while (b >= 0) {
        if (b == 0) return false;
        if (g_budget.compare_exchange_weak(b, b - 1, std::memory_order_relaxed)) return true;
    }
    return true;
}

constexpr std::size_t kHeader = 16;  // keeps malloc's alignment for the payload
constexpr std::size_t kGranule = 16;
constexpr std::size_t kLargestCached = 1024;
constexpr std::size_t kClasses = kLargestCached / kGranule + 1;  // class 0 is "not cached"
constexpr uint8_t kPerClass = 16;

// The header in front of every payload; `next` links a cached block.
struct Header {
    std::size_t sizeClass;
    Header* next;
};
static_assert(sizeof(Header) <= kHeader);

enum class CacheState : uint8_t { Unused, Live, Gone };

struct Cache {
    Header* head[kClasses];
    uint8_t count[kClasses];
    CacheState state;
};

// Trivial, so the fast path reads it without an initialisation guard.
constinit thread_local Cache t_cache QELRPC_TLS_FAST{};

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
        t_cache.state = CacheState::Gone;
    }
};

[[gnu::noinline]] bool startCache() noexcept {
    static thread_local Reaper reaper;
    (void)&reaper;
    t_cache.state = CacheState::Live;
    return true;
}

inline std::size_t classOf(std::size_t size) noexcept {
    return size <= kLargestCached ? (size + kGranule - 1) / kGranule : 0;
}

inline void* payload(Header* h) noexcept { return reinterpret_cast<uint8_t*>(h) + kHeader; }
inline Header* headerOf(void* p) noexcept { return reinterpret_cast<Header*>(static_cast<uint8_t*>(p) - kHeader); }

void* take(std::size_t size) noexcept {
    if (!mayAllocate()) return nullptr;
    if (size == 0) size = 1;
    const std::size_t k = classOf(size);
    if (k != 0) {
        Cache& c = t_cache;
        if (Header* b = c.head[k]) {
            c.head[k] = b->next;
            --c.count[k];
            QELRPC_HEAP_UNPOISON(payload(b), k * kGranule);
            return payload(b);
        }
    }
    // A cached class is allocated at its full size so every block of the
    // class can serve every request of it.
    auto* h = static_cast<Header*>(std::malloc(kHeader + (k != 0 ? k * kGranule : size)));
    if (h == nullptr) return nullptr;
    h->sizeClass = k;
    return payload(h);
}
}  // namespace

void* raw(std::size_t size) noexcept {
    if (size > SIZE_MAX - kHeader - kGranule) return nullptr;
    return take(size);
}

void* zeroed(std::size_t size) noexcept {
    void* p = raw(size);
    // Only the asked-for bytes: the rest of the class is never read.
    if (p != nullptr) std::memset(p, 0, size);
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    Header* h = headerOf(p);
    const std::size_t k = h->sizeClass;
    Cache& c = t_cache;
    if (k != 0 && c.count[k] < kPerClass && (c.state == CacheState::Live || (c.state == CacheState::Unused && startCache()))) {
        QELRPC_HEAP_POISON(p, k * kGranule);
        h->next = c.head[k];
        c.head[k] = h;
        ++c.count[k];
        return;
    }
    std::free(h);
}

void failAfter(long successes) noexcept { g_budget.store(successes < 0 ? -1 : successes, std::memory_order_relaxed); }

}  // namespace qelrpc::heap
