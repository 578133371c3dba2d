// SPDX-License-Identifier: MIT
// The socket layer on real loopback sockets: the Windows Sockets numbers
// callers see, the socket guard, and waits that are bounded and work for any
// descriptor number.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "peer_skip.h"
#include "platform/socket_errors.h"
#include "platform/sockets.h"
#include "platform/thread.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/socket_errors_posix.h"
#endif

namespace {

using namespace qelrpc::platform;
using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A socket bound to 127.0.0.1 on an ephemeral port.
Socket boundSocket(SocketType type, Endpoint& where) {
    Socket s;
    EXPECT_EQ(openSocket(type, s), 0);
    EXPECT_EQ(bindTo(s.get(), Endpoint{loopbackAddress(), 0}), 0);
    EXPECT_EQ(localEndpoint(s.get(), where), 0);
    EXPECT_NE(where.port, 0);
    return s;
}

// A loopback port with nothing listening on it (bound once, then released).
uint16_t closedTcpPort() {
    Endpoint e;
    Socket s = boundSocket(SocketType::Stream, e);
    return e.port;
}

class SocketStartup : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(startSockets(), 0); }
    void TearDown() override { stopSockets(); }
};

#ifndef _WIN32
TEST(SocketErrors, ErrnoMapsToWindowsSocketsNumbers) {
    struct Case { int err; int expected; };
    const Case cases[] = {
        {0, 0},
        {EWOULDBLOCK, 10035}, {EAGAIN, 10035}, {EINPROGRESS, 10036}, {EALREADY, 10037},
        {ENOTSOCK, 10038}, {EMSGSIZE, 10040}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050}, {ENETUNREACH, 10051}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},
        {EPIPE, 10054}, {ENOBUFS, 10055}, {EISCONN, 10056}, {ENOTCONN, 10057},
        {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065}, {EINTR, 10004},
        {EBADF, 10009}, {EINVAL, 10022}, {EMFILE, 10024},
        // Nothing in the table: the system-call failure number, never 0.
        {ENOENT, 10107}, {EDOM, 10107},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(mapSocketErrno(c.err), c.expected);
    }
}
#endif

TEST_F(SocketStartup, ConnectToAClosedPortIsRefused) {
    const uint16_t port = closedTcpPort();
    // Blocking connect.
    Socket a;
    ASSERT_EQ(openSocket(SocketType::Stream, a), 0);
    EXPECT_EQ(connectTo(a.get(), Endpoint{loopbackAddress(), port}), sockerr::kConnectionRefused);

    // Non-blocking connect: pending or refused at once; the wait then shows
    // the failure and the socket's pending error is the refusal.
    Socket b;
    ASSERT_EQ(openSocket(SocketType::Stream, b), 0);
    ASSERT_EQ(setNonBlocking(b.get(), true), 0);
    const int rc = connectTo(b.get(), Endpoint{loopbackAddress(), port});
    if (rc == sockerr::kInProgress || rc == sockerr::kWouldBlock) {
        unsigned ready = 0;
        ASSERT_EQ(waitFor(b.get(), kWritable, 2'000'000, ready), 0);
        ASSERT_NE(ready, 0u);
        EXPECT_EQ(connectOutcome(b.get()), sockerr::kConnectionRefused);
    } else {
        EXPECT_EQ(rc, sockerr::kConnectionRefused);
    }
}

TEST_F(SocketStartup, EmptyNonBlockingReceiveWouldBlock) {
    Endpoint where;
    Socket udp = boundSocket(SocketType::Datagram, where);
    ASSERT_EQ(setNonBlocking(udp.get(), true), 0);
    char buf[16];
    size_t got = 99;
    EXPECT_EQ(receiveDatagram(udp.get(), buf, sizeof buf, got, nullptr), sockerr::kWouldBlock);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(receiveBytes(udp.get(), buf, sizeof buf, got), sockerr::kWouldBlock);
}

TEST_F(SocketStartup, PortBoundTwiceIsInUse) {
    for (SocketType type : {SocketType::Stream, SocketType::Datagram}) {
        Endpoint where;
        Socket first = boundSocket(type, where);
        if (type == SocketType::Stream) {
            ASSERT_EQ(listenOn(first.get(), 4), 0);
        }
        Socket second;
        ASSERT_EQ(openSocket(type, second), 0);
        EXPECT_EQ(bindTo(second.get(), where), sockerr::kAddressInUse);
    }
}

TEST_F(SocketStartup, DatagramLongerThanTheBufferIsCutAndReported) {
    Endpoint where;
    Socket rx = boundSocket(SocketType::Datagram, where);
    Socket tx;
    ASSERT_EQ(openSocket(SocketType::Datagram, tx), 0);
    uint8_t msg[100];
    for (int i = 0; i < 100; ++i) msg[i] = static_cast<uint8_t>(i);
    size_t sent = 0;
    ASSERT_EQ(sendDatagram(tx.get(), msg, sizeof msg, where, sent), 0);
    ASSERT_EQ(sent, sizeof msg);
    unsigned ready = 0;
    ASSERT_EQ(waitFor(rx.get(), kReadable, 2'000'000, ready), 0);
    ASSERT_TRUE(ready & kReadable);

    uint8_t small[10] = {};
    size_t got = 0;
    Endpoint from;
    EXPECT_EQ(receiveDatagram(rx.get(), small, sizeof small, got, &from), sockerr::kMessageSize);
    EXPECT_EQ(got, sizeof small);
    EXPECT_EQ(std::memcmp(small, msg, sizeof small), 0);
    EXPECT_EQ(from.addr, loopbackAddress());
    // The rest of the datagram is gone, not delivered as a second one.
    ASSERT_EQ(setNonBlocking(rx.get(), true), 0);
    EXPECT_EQ(receiveDatagram(rx.get(), small, sizeof small, got, nullptr), sockerr::kWouldBlock);

    // A buffer large enough receives the whole datagram with success.
    ASSERT_EQ(sendDatagram(tx.get(), msg, sizeof msg, where, sent), 0);
    ASSERT_EQ(waitFor(rx.get(), kReadable, 2'000'000, ready), 0);
    uint8_t big[200];
    EXPECT_EQ(receiveDatagram(rx.get(), big, sizeof big, got, nullptr), 0);
    EXPECT_EQ(got, sizeof msg);
}

TEST_F(SocketStartup, StreamRoundTripAndPeerClose) {
    Endpoint where;
    Socket listener = boundSocket(SocketType::Stream, where);
    ASSERT_EQ(listenOn(listener.get(), 4), 0);
    Socket client;
    ASSERT_EQ(openSocket(SocketType::Stream, client), 0);
    ASSERT_EQ(connectTo(client.get(), where), 0);
    Socket server;
    Endpoint peer;
    ASSERT_EQ(acceptFrom(listener.get(), server, &peer), 0);
    EXPECT_EQ(peer.addr, loopbackAddress());

    size_t n = 0;
    ASSERT_EQ(sendBytes(client.get(), "ping", 4, n), 0);
    EXPECT_EQ(n, 4u);
    char buf[8] = {};
    unsigned ready = 0;
    ASSERT_EQ(waitFor(server.get(), kReadable, 2'000'000, ready), 0);
    ASSERT_EQ(receiveBytes(server.get(), buf, sizeof buf, n), 0);
    EXPECT_EQ(std::string(buf, n), "ping");

    client.close();
    ASSERT_EQ(waitFor(server.get(), kReadable, 2'000'000, ready), 0);
    EXPECT_TRUE(ready & kReadable);
    EXPECT_EQ(receiveBytes(server.get(), buf, sizeof buf, n), 0);
    EXPECT_EQ(n, 0u) << "a closed peer reads as 0 bytes";
}

TEST_F(SocketStartup, WaitsAreBoundedByTheirTimeout) {
    Endpoint where;
    Socket udp = boundSocket(SocketType::Datagram, where);
    struct Case { uint64_t micros; long long minMs; long long maxMs; };
    for (const Case& c : {Case{0, 0, 200}, Case{250, 0, 200}, Case{50'000, 45, 1000}}) {
        SCOPED_TRACE(c.micros);
        unsigned ready = 99;
        const auto t0 = Clock::now();
        ASSERT_EQ(waitFor(udp.get(), kReadable, c.micros, ready), 0);
        const long long ms = millisSince(t0);
        EXPECT_EQ(ready, 0u);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
    }
}

#ifndef _WIN32
// select() cannot watch descriptors of 1024 and above; poll can.
TEST_F(SocketStartup, WaitWorksOnADescriptorAbove1023) {
    constexpr int kHigh = 1500;
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max <= kHigh)
        QELRPC_SKIP_UNLESS_REQUIRED("hard RLIMIT_NOFILE too low");
    const rlimit saved = lim;
    if (lim.rlim_cur == RLIM_INFINITY || lim.rlim_cur <= kHigh) {
        lim.rlim_cur = kHigh + 1;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }
    ASSERT_EQ(fcntl(kHigh, F_GETFD), -1) << "descriptor " << kHigh << " already in use";

    Endpoint where;
    {
        Socket low = boundSocket(SocketType::Datagram, where);
        ASSERT_EQ(dup2(static_cast<int>(low.get()), kHigh), kHigh);
    }
    Socket high(static_cast<NativeSocket>(kHigh));
    unsigned ready = 0;
    ASSERT_EQ(waitFor(high.get(), kReadable, 20'000, ready), 0);
    EXPECT_EQ(ready, 0u);

    Socket tx;
    ASSERT_EQ(openSocket(SocketType::Datagram, tx), 0);
    size_t sent = 0;
    ASSERT_EQ(sendDatagram(tx.get(), "x", 1, where, sent), 0);
    ASSERT_EQ(waitFor(high.get(), kReadable, 2'000'000, ready), 0);
    EXPECT_EQ(ready, unsigned{kReadable});
    char c = 0;
    size_t got = 0;
    EXPECT_EQ(receiveDatagram(high.get(), &c, 1, got, nullptr), 0);
    EXPECT_EQ(c, 'x');
    high.close();
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(SocketGuard, ClosesOnceAndMovesOwnership) {
    auto isOpen = [](NativeSocket s) { return fcntl(static_cast<int>(s), F_GETFD) != -1; };
    NativeSocket first, second;
    {
        Socket a;
        ASSERT_EQ(openSocket(SocketType::Datagram, a), 0);
        first = a.get();
        Socket b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.get(), first);
        Socket c;
        ASSERT_EQ(openSocket(SocketType::Datagram, c), 0);
        second = c.get();
        c = std::move(b);  // c's own socket is closed, first moves in
        EXPECT_FALSE(isOpen(second));
        EXPECT_TRUE(isOpen(first));
        const NativeSocket raw = c.release();
        EXPECT_FALSE(c.valid());
        Socket d(raw);
    }
    EXPECT_FALSE(isOpen(first));
}
#endif

TEST(JoiningThread, JoinsWhenLeavingScope) {
    std::atomic<bool> ran{false};
    {
        JoiningThread t([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ran = true;
        });
    }
    EXPECT_TRUE(ran);
}

}  // namespace
