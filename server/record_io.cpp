#include "server/record_io.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/socket_errors.h"
#include "xdr/wire.h"

namespace qelrpc::server {
namespace {

constexpr uint64_t kDefaultRecordTimeoutMillis = 20000;
std::atomic<uint64_t> g_recordTimeoutMillis{kDefaultRecordTimeoutMillis};

constexpr uint32_t kLastFragment = 0x80000000u;

// Waits for the connection to become ready for `events` before the
// deadline: 0, or the error that ends the record (timed out, reset, ...).
int waitBefore(platform::NativeSocket conn, unsigned events, uint64_t deadline) {
    const uint64_t now = platform::monotonicMillis();
    if (now >= deadline) return platform::sockerr::kTimedOut;
    unsigned ready = 0;
    const int rc = platform::waitFor(conn, events, (deadline - now) * 1000, ready);
    if (rc != 0) return rc;
    if (ready == 0) return platform::sockerr::kTimedOut;
    if ((ready & platform::kFailed) && events == platform::kWritable) return platform::sockerr::kConnectionReset;
    return 0;
}

// Receives exactly n bytes at `to` before the deadline. The connection is
// non-blocking: bytes already there are taken at once, and only an empty
// socket costs a wait.
int receiveExactly(platform::NativeSocket conn, uint8_t* to, uint32_t n, uint64_t deadline) {
    while (n > 0) {
        std::size_t got = 0;
        int rc = platform::receiveBytes(conn, to, n, got);
        if (rc == 0) {
            if (got == 0) return platform::sockerr::kDisconnected;
            to += got;
            n -= static_cast<uint32_t>(got);
            continue;
        }
        if (rc != platform::sockerr::kWouldBlock && rc != platform::sockerr::kInterrupted) return rc;
        rc = waitBefore(conn, platform::kReadable, deadline);
        if (rc != 0) return rc;
    }
    return 0;
}

}  // namespace

uint64_t recordTimeoutMillis() noexcept { return g_recordTimeoutMillis.load(std::memory_order_relaxed); }

void setRecordTimeoutMillis(uint64_t ms) noexcept {
    g_recordTimeoutMillis.store(ms == 0 ? kDefaultRecordTimeoutMillis : ms, std::memory_order_relaxed);
}

int receiveRecord(RpcOperation& op, platform::NativeSocket conn) noexcept {
    Mbuf& req = op.request;
    if (req.block.pos == nullptr) return platform::sockerr::kFault;
    req.block.count = 0;
    const uint64_t deadline = platform::monotonicMillis() + recordTimeoutMillis();
    for (;;) {
        uint8_t mark[4];
        int rc = receiveExactly(conn, mark, 4, deadline);
        if (rc != 0) return rc;
        const uint32_t word = wire::loadWord(mark);
        const uint32_t length = word & ~kLastFragment;
        if (uint64_t{req.block.count} + length > req.block.limit) return platform::sockerr::kMessageSize;
        rc = receiveExactly(conn, req.block.pos + req.block.count, length, deadline);
        if (rc != 0) return rc;
        req.block.count += length;
        if (word & kLastFragment) return 0;
    }
}

int sendAll(platform::NativeSocket conn, const uint8_t* bytes, uint32_t length) noexcept {
    const uint64_t deadline = platform::monotonicMillis() + recordTimeoutMillis();
    // On the accept loop's non-blocking connections a client that stops
    // reading cannot hold the server beyond the bound; the send is tried
    // first and only a full socket costs a wait.
    while (length > 0) {
        std::size_t sent = 0;
        int rc = platform::sendBytes(conn, bytes, length, sent);
        if (rc == 0) {
            bytes += sent;
            length -= static_cast<uint32_t>(sent);
            continue;
        }
        if (rc != platform::sockerr::kWouldBlock && rc != platform::sockerr::kInterrupted) return rc;
        rc = waitBefore(conn, platform::kWritable, deadline);
        if (rc != 0) return rc;
    }
    return 0;
}

}  // namespace qelrpc::server
