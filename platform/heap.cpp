#include "platform/heap.h"

#include <atomic>
#include <cstdlib>

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
}  // namespace

void* raw(std::size_t size) noexcept { return mayAllocate() ? std::malloc(size ? size : 1) : nullptr; }
void* zeroed(std::size_t size) noexcept { return mayAllocate() ? std::calloc(1, size ? size : 1) : nullptr; }
void release(void* p) noexcept { std::free(p); }
void failAfter(long successes) noexcept { g_budget.store(successes < 0 ? -1 : successes, std::memory_order_relaxed); }

}  // namespace qelrpc::heap
