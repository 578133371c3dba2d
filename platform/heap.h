// SPDX-License-Identifier: MIT
// The library's own heap. Everything the library hands out or takes back
// (blocks, credential records, XDR decodes) comes from here, so a caller
// never mixes runtimes, and tests can make the next allocations fail.
//
// XDR decodes allocate and release many small blocks (strings, counted
// bytes, arrays) in quick succession, and malloc/free dominated their cost.
// Blocks of up to cache::kLargestCached bytes therefore come from a
// per-thread cache of free blocks, one list per 16-byte size class. Every
// block carries a 16-byte header holding its class (0: not cached, straight
// to free), so release needs no lookup and a block may go back on any
// thread: it simply joins that thread's cache. Each list holds at most
// kPerClass blocks; the rest go to free. A thread's cache is emptied when
// the thread ends.
//
// Taking a cached block and giving one back are inline (raw and release
// below): a call into this file and back cost a decode-and-free of a small
// item a fifth of its time (bench_xdr row Qel_BytesDecodeFree). Everything
// else (malloc, free, the failure seam's count, the cache's first use on a
// thread) is out of line in heap.cpp.
#pragma once

// Windows has no cache: a thread-exit destructor is the only way to empty a
// thread's cache there, and the C runtime pins a DLL that registers one, so
// FreeLibrary could never unload the library. Every block goes to malloc
// and free, its header still in front.
#if defined(_WIN32)
#define QELRPC_HEAP_CACHE 0
#else
#define QELRPC_HEAP_CACHE 1
#endif

#include <atomic>
#include <cstddef>
#include <cstdint>

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

// A block of `size` bytes (at least one is allocated for 0), or null.
inline void* raw(std::size_t size) noexcept;
// The same, its `size` bytes zero.
void* zeroed(std::size_t size) noexcept;
// Gives back a block of raw or zeroed; null is nothing.
inline void release(void* p) noexcept;

// Test seam: the allocation after `successes` more successful ones fails,
// and so does every one after it until reset with a negative value.
void failAfter(long successes) noexcept;

namespace cache {

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

enum class State : uint8_t { Unused, Live, Gone };

struct Cache {
    Header* head[kClasses];
    uint8_t count[kClasses];
    State state;
};

#if QELRPC_HEAP_CACHE
// Trivial and constinit, so the inline paths read it without an
// initialisation guard or a TLS wrapper call.
extern constinit thread_local Cache t_cache QELRPC_TLS_FAST;
#endif
// Negative: never fail. Otherwise the number of allocations still allowed.
extern std::atomic<long> g_budget;

// The out-of-line rest of raw and release.
void* takeSlow(std::size_t size) noexcept;
void releaseSlow(void* p) noexcept;

inline void* payload(Header* h) noexcept { return reinterpret_cast<uint8_t*>(h) + kHeader; }
inline Header* headerOf(void* p) noexcept { return reinterpret_cast<Header*>(static_cast<uint8_t*>(p) - kHeader); }

#if QELRPC_HEAP_CACHE
// A block of class k from this thread's list, or null when it is empty.
inline void* popCached(std::size_t k) noexcept {
    Cache& c = t_cache;
    Header* b = c.head[k];
    if (b == nullptr) return nullptr;
    c.head[k] = b->next;
    --c.count[k];
    QELRPC_HEAP_UNPOISON(payload(b), k * kGranule);
    return payload(b);
}

// Puts block h of class k on this thread's list; the caller checked room.
inline void pushCached(Header* h, std::size_t k) noexcept {
    Cache& c = t_cache;
    QELRPC_HEAP_POISON(payload(h), k * kGranule);
    h->next = c.head[k];
    c.head[k] = h;
    ++c.count[k];
}
#endif

}  // namespace cache

inline void* raw(std::size_t size) noexcept {
#if QELRPC_HEAP_CACHE
    using namespace cache;
    // 1 to kLargestCached bytes with no failure seam armed and a block of
    // the class at hand; anything else (0 included) takes the long way.
    if (size - 1 < kLargestCached && g_budget.load(std::memory_order_relaxed) < 0) {
        if (void* p = popCached((size + kGranule - 1) / kGranule)) return p;
    }
#endif
    return cache::takeSlow(size);
}

inline void release(void* p) noexcept {
    using namespace cache;
    if (p == nullptr) return;
#if QELRPC_HEAP_CACHE
    Header* h = headerOf(p);
    const std::size_t k = h->sizeClass;
    Cache& c = t_cache;
    if (k != 0 && c.count[k] < kPerClass && c.state == State::Live) {
        pushCached(h, k);
        return;
    }
#endif
    releaseSlow(p);
}

}  // namespace qelrpc::heap
