// SPDX-License-Identifier: MIT
#include "rpc/connect.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/message_pump.h"
#include "platform/socket_errors.h"
#include "platform/thread.h"
#include "rpc/c_edge.h"
#include "rpc/exchange_limits.h"
#include "rpc/status.h"

namespace qelrpc::exchange {
namespace {

using namespace platform;

// The caller may set its flag from any thread (or from a window procedure
// run by the pump); read it as the atomic it is in practice.
bool cancelled(int* flag) {
    return flag != nullptr && std::atomic_ref<int>(*flag).load(std::memory_order_relaxed) != 0;
}

// A non-blocking connect, polled until it ends or the flag is set. There is
// no time limit of its own: the system gives a connect up in its own time.
int runConnect(NativeSocket s, const Endpoint& peer, int* cancelFlag) {
    // Without a flag to watch, nothing needs the short polls: the wait ends
    // as soon as the connect does either way.
    const uint64_t poll = cancelFlag != nullptr ? limits().connectPollMicros : 1'000'000;
    const int started = connectTo(s, peer);
    if (started != sockerr::kInProgress && started != sockerr::kWouldBlock) return started;
    for (;;) {
        unsigned ready = 0;
        const int rc = waitFor(s, kWritable, poll, ready);
        if (rc != 0) return rc;
        if (ready != 0) {
            const int result = connectOutcome(s);
            // Writable with no pending error is connected; a failure the
            // system did not name is still a failure.
            if (result == 0 && !(ready & kWritable)) return sockerr::kNotConnected;
            return result;
        }
        if (cancelled(cancelFlag)) return status::kExchangeCancelled;
    }
}

// One connect on its own thread; the calling thread pumps messages until it
// ends. The pump wakes at least every 10 ms, and at once when the connect
// ends, so it neither spins nor lags.
int connectWhilePumping(NativeSocket s, const Endpoint& peer, RpcWindow window, int* cancelFlag) {
    struct Attempt {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        int result = 0;
    } a;
    JoiningThread worker;
    const bool started = edge::guard(false, [&] {
        worker = JoiningThread([&] {
            const int r = runConnect(s, peer, cancelFlag);
            std::lock_guard lock(a.m);
            a.result = r;
            a.done = true;
            a.cv.notify_one();
        });
        return true;
    });
    // No thread to be had: the caller's thread connects, still cancellable.
    if (!started) return runConnect(s, peer, cancelFlag);
    std::unique_lock lock(a.m);
    while (!a.done) {
        lock.unlock();
        pumpWindowMessages(window);
        lock.lock();
        a.cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return a.done; });
    }
    const int result = a.result;
    lock.unlock();
    worker.join();
    return result;
}

}  // namespace

int connectTcp(NativeSocket s, const Endpoint& peer, RpcWindow window, int* cancelFlag) noexcept {
    if (window != nullptr && cancelFlag != nullptr) return connectWhilePumping(s, peer, window, cancelFlag);
    return runConnect(s, peer, cancelFlag);
}

}  // namespace qelrpc::exchange
