#include "rpc/xid.h"

#include <atomic>

namespace qelrpc::xid {
namespace {
std::atomic<uint32_t> g_next{1};

constexpr uint32_t after(uint32_t x) { return x == UINT32_MAX ? 1 : x + 1; }
}  // namespace

uint32_t take() noexcept {
    uint32_t cur = g_next.load(std::memory_order_relaxed);
    while (!g_next.compare_exchange_weak(cur, after(cur), std::memory_order_relaxed)) {
    }
    return cur;
}

void setNext(uint32_t next) noexcept { g_next.store(next == 0 ? 1 : next, std::memory_order_relaxed); }

}  // namespace qelrpc::xid
