// SPDX-License-Identifier: MIT
#include "rpc/exchange_limits.h"

#include <atomic>

namespace qelrpc::exchange {
namespace {
std::atomic<uint64_t> g_udpWait{Limits{}.udpWaitMicros};
std::atomic<unsigned> g_udpSends{Limits{}.udpSends};
std::atomic<uint64_t> g_tcpSilence{Limits{}.tcpSilenceMicros};
std::atomic<uint64_t> g_tcpExchange{Limits{}.tcpExchangeMicros};
std::atomic<uint64_t> g_connectPoll{Limits{}.connectPollMicros};
}  // namespace

Limits limits() noexcept {
    Limits l;
    l.udpWaitMicros = g_udpWait.load(std::memory_order_relaxed);
    l.udpSends = g_udpSends.load(std::memory_order_relaxed);
    l.tcpSilenceMicros = g_tcpSilence.load(std::memory_order_relaxed);
    l.tcpExchangeMicros = g_tcpExchange.load(std::memory_order_relaxed);
    l.connectPollMicros = g_connectPoll.load(std::memory_order_relaxed);
    return l;
}

void setLimits(const Limits& l) noexcept {
    g_udpWait.store(l.udpWaitMicros, std::memory_order_relaxed);
    g_udpSends.store(l.udpSends == 0 ? 1 : l.udpSends, std::memory_order_relaxed);
    g_tcpSilence.store(l.tcpSilenceMicros, std::memory_order_relaxed);
    g_tcpExchange.store(l.tcpExchangeMicros, std::memory_order_relaxed);
    g_connectPoll.store(l.connectPollMicros, std::memory_order_relaxed);
}

void resetLimits() noexcept { setLimits(Limits{}); }

}  // namespace qelrpc::exchange
