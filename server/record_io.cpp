#include "server/record_io.h"

#include <algorithm>
#include <atomic>

#include "platform/clock.h"
#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "xdr/wire.h"

namespace qelrpc::server {
namespace {

constexpr uint64_t kDefaultRecordTimeoutMillis = 20000;
std::atomic<uint64_t> g_recordTimeoutMillis{kDefaultRecordTimeoutMillis};

// Ending a connection that served its reply: how long to wait for the
// client to close first (then TIME_WAIT stays on its side), and how long in
// all for its FIN after ours.
constexpr uint64_t kPeerFirstMillis = 250;
constexpr uint64_t kOrderlyCloseMillis = 2000;

// The connection whose last reply could not be sent, on this thread (the
// accept loop's, where handlers reply).
thread_local platform::NativeSocket t_failedReply = platform::kInvalidSocket;

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
    for (uint32_t fragments = 0;; ++fragments) {
        if (fragments == wire::kMaxRecordFragments) return platform::sockerr::kMessageSize;
        // Checked on every fragment, not only when the socket runs dry: a
        // client that keeps the socket full of fragments is bound too.
        if (platform::monotonicMillis() >= deadline) return platform::sockerr::kTimedOut;
        uint8_t mark[4];
        int rc = receiveExactly(conn, mark, 4, deadline);
        if (rc != 0) return rc;
        const uint32_t word = wire::loadWord(mark);
        const uint32_t length = wire::fragmentLength(word);
        if (uint64_t{req.block.count} + length > req.block.limit) return platform::sockerr::kMessageSize;
        rc = receiveExactly(conn, req.block.pos + req.block.count, length, deadline);
        if (rc != 0) return rc;
        req.block.count += length;
        if (wire::isLastFragment(word)) return 0;
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

void noteReplyFailed(platform::NativeSocket conn) noexcept { t_failedReply = conn; }

bool takeReplyFailed(platform::NativeSocket conn) noexcept {
    const bool failed = t_failedReply == conn && conn != platform::kInvalidSocket;
    t_failedReply = platform::kInvalidSocket;
    return failed;
}

void closeAbortively(platform::Socket& conn) noexcept {
    if (!conn.valid()) return;
    platform::setLinger(conn.get(), true, 0);
    conn.close();
}

namespace {

// True when the peer has acknowledged all we sent, our FIN included (known
// on Linux only).
bool allAcknowledged(platform::NativeSocket conn) {
    std::size_t pending = 0;
    return platform::unacknowledgedBytes(conn, pending) == 0 && pending == 0;
}

// Reads and drops what the peer sends until its FIN (true) or the deadline
// (false). A reset or error also ends the wait: nothing is left to deliver.
// With untilAcknowledged the wait also ends (true) once the peer has
// acknowledged everything, FIN included: a close then loses nothing.
bool drainUntilPeerCloses(platform::NativeSocket conn, uint64_t deadline, bool untilAcknowledged) {
    constexpr uint64_t kAckPollMillis = 10;
    uint8_t scrap[512];
    for (;;) {
        std::size_t got = 0;
        int rc = platform::receiveBytes(conn, scrap, sizeof scrap, got);
        if (rc == 0) {
            if (got == 0) return true;
            continue;
        }
        if (rc != platform::sockerr::kWouldBlock && rc != platform::sockerr::kInterrupted) return true;
        if (untilAcknowledged && allAcknowledged(conn)) return true;
        const uint64_t now = platform::monotonicMillis();
        const uint64_t until = untilAcknowledged ? std::min(deadline, now + kAckPollMillis) : deadline;
        rc = waitBefore(conn, platform::kReadable, until);
        if (rc == platform::sockerr::kTimedOut) {
            if (until < deadline) continue;
            return false;
        }
        if (rc != 0) return true;
    }
}

}  // namespace

void closeGracefully(platform::Socket& conn) noexcept {
    if (!conn.valid()) return;
    const uint64_t start = platform::monotonicMillis();
    // A client that has its answer usually closes at once; its FIN first
    // leaves TIME_WAIT on its side.
    if (!drainUntilPeerCloses(conn.get(), start + kPeerFirstMillis, false)) {
        // Our FIN goes behind the reply's last byte; the client reading to
        // the end sees an orderly end. Input is drained meanwhile, since a
        // close with unread input resets the connection and drops the
        // reply's unsent tail. Where the system tells, the wait ends as
        // soon as the client has acknowledged everything (FIN included).
        platform::shutdownSend(conn.get());
        drainUntilPeerCloses(conn.get(), start + kOrderlyCloseMillis, true);
    }
    // Linger off: whatever is still queued goes out after the close.
    conn.close();
}

}  // namespace qelrpc::server
