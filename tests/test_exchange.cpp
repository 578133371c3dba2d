// SPDX-License-Identifier: MIT
// The UDP and TCP exchanges against scripted peers on loopback: the
// retransmission schedule, record marking, replies that do not fit or stall,
// peers that close early, failed and cancelled connects, and concurrent
// calls. The time limits are shortened through the exchange's test seam;
// only the RealLimits tests wait out the real 5 and 20 seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "fake_peer.h"
#include "peer_skip.h"
#include "qelrpc.h"
#include "rpc/exchange_limits.h"

namespace {

using namespace testpeer;
using Clock = std::chrono::steady_clock;
namespace ex = qelrpc::exchange;

// The socket layer is started once for the program (a no-op on POSIX; the
// library's load does it for callers on Windows).
class SocketLayer : public ::testing::Environment {
    void SetUp() override { ASSERT_EQ(qelrpc::platform::startSockets(), 0); }
    void TearDown() override { qelrpc::platform::stopSockets(); }
};
[[maybe_unused]] const auto* const kSocketLayer = ::testing::AddGlobalTestEnvironment(new SocketLayer);

long long millisSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void setFlag(int* flag, int v) { std::atomic_ref<int>(*flag).store(v); }

// Short limits: 100 ms per UDP transmission, 3 s of TCP silence (long
// enough that a peer slowed down by a loaded machine still answers in time).
ex::Limits fastLimits() {
    ex::Limits l;
    l.udpWaitMicros = 100'000;
    l.tcpSilenceMicros = 3'000'000;
    return l;
}

// For the tests that wait the TCP silence limit out.
void shortSilence() {
    ex::Limits l = fastLimits();
    l.tcpSilenceMicros = 300'000;
    ex::setLimits(l);
}

// Prepares an AUTH_NULL call of `argWords` argument words on op.
void prepareCall(RpcOperation& op, uint32_t proc, int argWords) {
    ASSERT_EQ(rpcPrepareRPCHeader(&op, proc), 0);
    InitDataBuffer(&op.request);
    for (int i = 0; i < argWords; ++i) ASSERT_EQ(mbufAddLong(&op.request.data, 0x0A0B0C00 + i), 0);
}

uint32_t callXid(const RpcOperation& op) {
    const uint8_t* p = op.request.block.pos + 4;
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

Bytes replyBytes(const RpcOperation& op) {
    return Bytes(op.reply.block.pos, op.reply.block.pos + op.reply.block.count);
}

class Exchange : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        ex::setLimits(fastLimits());
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopbackAddress()), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.prog = 0x20000F10;
        op.vers = 1;
        prepareCall(op, 1, 2);
    }
    void TearDown() override {
        rpcCloseOperation(&op);
        ex::resetLimits();
    }
};

// ---------------------------------------------------------------- UDP

TEST_F(Exchange, UdpWithoutAnswerSendsFiveTimesThenGivesUp) {
    UdpPeer peer([](int, const Bytes&) { return std::vector<Bytes>{}; });
    ASSERT_TRUE(peer.ok());
    op.udpPort = peer.port();
    const auto t0 = Clock::now();
    EXPECT_EQ(DoUDPRPCGram(&op, 0), -1);
    const long long ms = millisSince(t0);
    EXPECT_GE(ms, 490);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(op.reply.block.count, 0u);
    // Each transmission is the message without its record-mark slot.
    const Bytes sent(op.request.block.pos + 4, op.request.block.pos + 52);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto reqs = peer.requests();
    ASSERT_EQ(reqs.size(), 5u);
    for (const Bytes& r : reqs) EXPECT_EQ(r, sent);
}

TEST_F(Exchange, UdpAnswerToTheThirdTransmission) {
    const Bytes results = words({7, 8, 9});
    UdpPeer peer([&](int n, const Bytes& req) {
        if (n < 3) return std::vector<Bytes>{};
        return std::vector<Bytes>{successReply(wordAt(req, 0), results)};
    });
    ASSERT_TRUE(peer.ok());
    op.udpPort = peer.port();
    ASSERT_EQ(DoUDPRPCGram(&op, 0), 0);
    EXPECT_EQ(peer.received(), 3);
    EXPECT_EQ(op.reply.block.count, 36u);
    EXPECT_EQ(replyBytes(op), successReply(callXid(op), results));
}

TEST_F(Exchange, UdpTakesOnlyTheAnswerCarryingTheCallsXid) {
    // Every transmission draws a stray datagram, a 2-byte scrap and a reply
    // to another xid; only every third transmission draws the real reply.
    UdpPeer peer([](int n, const Bytes& req) {
        const uint32_t xid = wordAt(req, 0);
        std::vector<Bytes> out{successReply(xid + 1), Bytes{1, 2}, successReply(xid ^ 0x80000000u, words({66}))};
        if (n % 3 == 0) out.push_back(successReply(xid, words({42})));
        return out;
    });
    ASSERT_TRUE(peer.ok());
    op.udpPort = peer.port();
    ASSERT_EQ(DoUDPRPCGram(&op, 0), 0);
    EXPECT_EQ(peer.received(), 3) << "dropped datagrams must not cost transmissions";
    ASSERT_EQ(CallRPC(&op, 0), 0);  // the whole call, reply checked
    uint32_t v = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &v), 0);
    EXPECT_EQ(v, 42u);
}

TEST_F(Exchange, UdpOnlyForeignXidsTimesOut) {
    UdpPeer peer([](int, const Bytes& req) { return std::vector<Bytes>{successReply(wordAt(req, 0) + 7)}; });
    ASSERT_TRUE(peer.ok());
    op.udpPort = peer.port();
    EXPECT_EQ(DoUDPRPCGram(&op, 0), -1);
    EXPECT_EQ(peer.received(), 5);
}

// ---------------------------------------------------------------- TCP

TEST_F(Exchange, TcpRequestIsOneMarkedRecordAndFragmentsLandBackToBack) {
    Bytes raw;
    Bytes first(100), second(60);
    for (int i = 0; i < 100; ++i) first[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 60; ++i) second[i] = static_cast<uint8_t>(200 - i);
    TcpPeer peer([&](int, Conn& c) {
        Bytes req;
        if (!c.readRecord(req, &raw)) return;
        c.sendFragment(first, false);
        c.sendFragment(second, true);
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    ASSERT_EQ(DoTCPRPCGram(&op), 0);
    // A 44-byte header and 8 argument bytes: 52 bytes, the mark 0x80000030.
    ASSERT_EQ(raw.size(), 52u);
    EXPECT_EQ(wordAt(raw, 0), 0x80000030u);
    EXPECT_EQ(Bytes(raw.begin() + 4, raw.end()), Bytes(op.request.block.pos + 4, op.request.block.pos + 52));
    ASSERT_EQ(op.reply.block.count, 160u);
    Bytes want = first;
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(replyBytes(op), want);
}

TEST_F(Exchange, TcpTwoCallsInARowCountOnlyTheSecondReply) {
    TcpPeer peer([](int n, Conn& c) {
        Bytes req;
        if (!c.readRecord(req)) return;
        c.sendFragment(successReply(wordAt(req, 0), Bytes(n == 1 ? 200 : 16, 0xEE)), true);
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    ASSERT_EQ(CallRPC(&op, 0), 0);
    EXPECT_EQ(op.reply.block.count, 224u);
    prepareCall(op, 2, 0);
    ASSERT_EQ(CallRPC(&op, 0), 0);
    EXPECT_EQ(op.reply.block.count, 40u);
    EXPECT_EQ(op.reply.data.count, 16u);
    EXPECT_EQ(peer.accepted(), 2) << "a connection per exchange";
}

TEST_F(Exchange, TcpReplyFillingTheBlockExactlyIsTaken) {
    TcpPeer peer([](int, Conn& c) {
        Bytes req;
        if (!c.readRecord(req)) return;
        Bytes body = successReply(wordAt(req, 0), Bytes(RPC_MBUF_SIZE - 24, 0x5A));
        c.sendFragment(Bytes(body.begin(), body.begin() + 100), false);
        c.sendFragment(Bytes(body.begin() + 100, body.end()), true);
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    ASSERT_EQ(CallRPC(&op, 0), 0);
    EXPECT_EQ(op.reply.block.count, RPC_MBUF_SIZE);
    EXPECT_EQ(op.reply.data.count, RPC_MBUF_SIZE - 24);
}

TEST_F(Exchange, TcpReplyLongerThanTheBlockIsRefused) {
    struct Case { const char* what; std::vector<uint32_t> fragments; };
    const Case cases[] = {
        {"one byte too many over two fragments", {65000, 537}},
        {"an empty fragment then a huge mark", {0, 0x7FFFFFFF}},
        {"a block's worth then one more byte", {65536, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TcpPeer peer([&](int, Conn& conn) {
            Bytes req;
            if (!conn.readRecord(req)) return;
            for (size_t i = 0; i < c.fragments.size(); ++i) {
                const bool last = i + 1 == c.fragments.size();
                const uint32_t n = c.fragments[i];
                Bytes frag;
                putWord(frag, n | (last ? 0x80000000u : 0));
                frag.resize(4 + (n > 70000 ? 16 : n), 0x77);
                conn.send(frag);
            }
            conn.holdOpen(std::chrono::milliseconds(2000));
        });
        ASSERT_TRUE(peer.ok());
        op.tcpPort = peer.port();
        // The block is allocated at its exact size, so AddressSanitizer
        // would see any byte stored past it.
        EXPECT_EQ(DoTCPRPCGram(&op), 10040);
        EXPECT_LE(op.reply.block.count, RPC_MBUF_SIZE);
    }
}

TEST_F(Exchange, TcpFragmentStallingHalfWayIsBounded) {
    TcpPeer peer([](int, Conn& c) {
        Bytes req;
        if (!c.readRecord(req)) return;
        Bytes part;
        putWord(part, 0x80000000u | 100);
        part.resize(4 + 50, 0x11);  // half the fragment, then nothing
        c.send(part);
        c.holdOpen(std::chrono::milliseconds(5000));
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    shortSilence();
    const auto t0 = Clock::now();
    EXPECT_EQ(DoTCPRPCGram(&op), -1);
    const long long ms = millisSince(t0);
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 3000);
}

TEST_F(Exchange, TcpSilentServerTimesOut) {
    TcpPeer peer([](int, Conn& c) {
        Bytes req;
        c.readRecord(req);
        c.holdOpen(std::chrono::milliseconds(5000));
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    shortSilence();
    const auto t0 = Clock::now();
    EXPECT_EQ(CallRPC(&op, 0), -1);
    EXPECT_LT(millisSince(t0), 3000);
}

// The silence limit alone lets a server hold a call for ever by never
// going quiet: one byte now and then keeps every wait short. The whole
// exchange has a bound of its own.
TEST_F(Exchange, TcpPeerThatTricklesIsCutOffByTheExchangeBound) {
    struct Case { const char* what; Bytes first; Bytes piece; };
    Bytes bodyMark, emptyFragment, oneByteFragment;
    putWord(bodyMark, 0x80000000u | 400);
    putWord(emptyFragment, 0);
    putWord(oneByteFragment, 1);
    oneByteFragment.push_back(0x42);
    const Case cases[] = {
        {"one byte of a fragment at a time", bodyMark, Bytes{0x42}},
        {"one one-byte fragment at a time", {}, oneByteFragment},
        {"one empty fragment at a time", {}, emptyFragment},
    };
    ex::Limits l = fastLimits();
    l.tcpSilenceMicros = 300'000;
    l.tcpExchangeMicros = 1'000'000;
    ex::setLimits(l);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> done{false};
        // A piece every 30 ms, for at most 3 s: far inside the silence
        // limit, far beyond the exchange's bound.
        TcpPeer peer([&](int, Conn& conn) {
            Bytes req;
            if (!conn.readRecord(req)) return;
            if (!c.first.empty()) conn.send(c.first);
            for (int i = 0; i < 100 && !done; ++i) {
                conn.send(c.piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
        ASSERT_TRUE(peer.ok());
        op.tcpPort = peer.port();
        const auto t0 = Clock::now();
        const int rc = DoTCPRPCGram(&op);
        const long long ms = millisSince(t0);
        done = true;
        EXPECT_EQ(rc, -1);
        EXPECT_GE(ms, 950);
        EXPECT_LT(ms, 2000);
    }
}

TEST_F(Exchange, TcpPeerClosingEarlyIsNeverSuccess) {
    struct Case { const char* what; std::function<void(Conn&)> script; };
    const Case cases[] = {
        {"closes without answering", [](Conn&) {}},
        {"closes inside the mark", [](Conn& c) { c.send(Bytes{0x80, 0}); }},
        {"closes inside the fragment", [](Conn& c) {
             Bytes b;
             putWord(b, 0x80000000u | 100);
             b.resize(24, 1);
             c.send(b);
         }},
        {"closes after a fragment that was not the last", [](Conn& c) { c.sendFragment(Bytes(24, 0), false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TcpPeer peer([&](int, Conn& conn) {
            Bytes req;
            if (conn.readRecord(req)) c.script(conn);
        });
        ASSERT_TRUE(peer.ok());
        op.tcpPort = peer.port();
        EXPECT_EQ(DoTCPRPCGram(&op), 10101);
    }
}

TEST_F(Exchange, FailedConnectCarriesItsOwnError) {
    uint16_t closedPort;
    {
        TcpPeer gone([](int, Conn&) {});
        ASSERT_TRUE(gone.ok());
        closedPort = gone.port();
    }
    op.tcpPort = closedPort;
    EXPECT_EQ(DoTCPRPCGram(&op), 10061);
    // The same through the cancellable paths, with and without a window.
    int flag = 0;
    rpcSetAsyncOperation(&op, 1, nullptr, &flag);
    EXPECT_EQ(DoTCPRPCGram(&op), 10061);
    rpcSetAsyncOperation(&op, 1, reinterpret_cast<RpcWindow>(&flag), &flag);
    EXPECT_EQ(CallRPC(&op, 0), 10061);
    EXPECT_EQ(rpcCallRPCProgram(&op, 0), 10061);
}

// ---------------------------------------------------------------- cancel

class Cancel : public Exchange, public ::testing::WithParamInterface<bool> {};

TEST_P(Cancel, FlagAbandonsAConnectThatNeverCompletes) {
    const bool withWindow = GetParam();
    BlackHole hole;
    if (!hole.ok()) QELRPC_SKIP_UNLESS_REQUIRED("could not make a connect hang on this system");
    op.tcpPort = hole.port();
    int flag = 0;
    RpcWindow window = withWindow ? reinterpret_cast<RpcWindow>(&op) : nullptr;
    rpcSetAsyncOperation(&op, 1, window, &flag);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        setFlag(&flag, 1);
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(DoTCPRPCGram(&op), -2);
    const long long ms = millisSince(t0);
    canceller.join();
    EXPECT_GE(ms, 140);
    EXPECT_LT(ms, 1500);

    // A flag set before the call abandons the connect at its first poll.
    const auto t1 = Clock::now();
    EXPECT_EQ(CallRPC(&op, 0), -2);
    EXPECT_LT(millisSince(t1), 500);
}

INSTANTIATE_TEST_SUITE_P(WindowOrNot, Cancel, ::testing::Bool());

TEST_F(Exchange, FlagIsIgnoredOutsideAsynchronousMode) {
    TcpPeer peer([](int, Conn& c) {
        Bytes req;
        if (c.readRecord(req)) c.sendFragment(successReply(wordAt(req, 0)), true);
    });
    ASSERT_TRUE(peer.ok());
    op.tcpPort = peer.port();
    int flag = 1;
    rpcSetAsyncOperation(&op, 0, nullptr, &flag);
    op.cancelFlag = &flag;  // a stale pointer: flags are 0, so it is not read
    EXPECT_EQ(CallRPC(&op, 0), 0);
}

// Connects in flight on several threads at once: one is cancelled while the
// others complete, and none sees another's outcome.
TEST(ConcurrentCalls, ConnectsOnSeveralThreadsDoNotInterfere) {
    // The real limits: replies come at once, and a loaded machine (or a
    // sanitizer) must not turn a slow peer into a failure here.
    ex::resetLimits();
    constexpr int kThreads = 6;
    constexpr int kCalls = 15;
    TcpPeer tcp([](int, Conn& c) {
        Bytes req;
        if (c.readRecord(req)) c.sendFragment(successReply(wordAt(req, 0), req), true);
    });
    UdpPeer udp([](int, const Bytes& req) { return std::vector<Bytes>{successReply(wordAt(req, 0), req)}; });
    BlackHole hole;
    ASSERT_TRUE(tcp.ok());
    ASSERT_TRUE(udp.ok());

    std::atomic<int> failures{0};
    std::atomic<int> lastFailure{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            RpcOperation op{};
            if (rpcInitOperationEx(&op, nullptr, loopbackAddress()) != 0 || rpcCreateAuthNull(&op) != 1) {
                ++failures;
                return;
            }
            op.prog = 0x20000F20 + t;
            op.vers = 1;
            int flag = 0;
            // Every thread runs cancellable connects, half of them pumping.
            rpcSetAsyncOperation(&op, 1, (t % 2) ? reinterpret_cast<RpcWindow>(&op) : nullptr, &flag);
            for (int i = 0; i < kCalls; ++i) {
                op.tcpPort = (i % 3 == 2) ? 0 : tcp.port();
                op.udpPort = udp.port();
                if (rpcPrepareRPCHeader(&op, static_cast<uint32_t>(i)) != 0) ++failures;
                InitDataBuffer(&op.request);
                mbufAddLong(&op.request.data, t * 1000 + i);
                const uint32_t xid = callXid(op);
                if (const int rc = CallRPC(&op, 0); rc != 0) {
                    ++failures;
                    lastFailure = rc;
                    continue;
                }
                // The results echo this call's own message.
                uint32_t echoedXid = 0;
                if (mbufGetLong(&op.reply.data, &echoedXid) != 0 || echoedXid != xid) ++failures;
            }
            rpcCloseOperation(&op);
        });
    }
    // Meanwhile a connect that hangs is cancelled on its own thread.
    int cancelResult = 0;
    std::thread hanging([&] {
        if (!hole.ok()) return;
        RpcOperation op{};
        rpcInitOperationEx(&op, nullptr, loopbackAddress());
        rpcCreateAuthNull(&op);
        op.tcpPort = hole.port();
        rpcPrepareRPCHeader(&op, 0);
        InitDataBuffer(&op.request);
        int flag = 0;
        rpcSetAsyncOperation(&op, 1, nullptr, &flag);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            setFlag(&flag, 1);
        });
        cancelResult = DoTCPRPCGram(&op);
        canceller.join();
        rpcCloseOperation(&op);
    });
    for (auto& th : threads) th.join();
    hanging.join();
    EXPECT_EQ(failures.load(), 0) << "last failure " << lastFailure.load();
    if (hole.ok()) {
        EXPECT_EQ(cancelResult, -2);
    }
    ex::resetLimits();
}

// ---------------------------------------------------------------- real limits

TEST(RealLimits, UdpGivesUpFiveSecondsAfterTheFirstSend) {
    ex::resetLimits();
    UdpPeer peer([](int, const Bytes&) { return std::vector<Bytes>{}; });
    ASSERT_TRUE(peer.ok());
    RpcOperation op{};
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopbackAddress()), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    prepareCall(op, 0, 0);
    op.udpPort = peer.port();
    const auto t0 = Clock::now();
    EXPECT_EQ(DoUDPRPCGram(&op, 0), -1);
    const long long ms = millisSince(t0);
    EXPECT_GE(ms, 4950);
    EXPECT_LT(ms, 6500);
    EXPECT_EQ(peer.received(), 5);
    rpcCloseOperation(&op);
}

TEST(RealLimits, TcpGivesUpAfterTwentySecondsOfSilence) {
    ex::resetLimits();
    TcpPeer peer([](int, Conn& c) {
        Bytes req;
        c.readRecord(req);
        c.holdOpen(std::chrono::milliseconds(25'000));
    });
    ASSERT_TRUE(peer.ok());
    RpcOperation op{};
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopbackAddress()), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    prepareCall(op, 0, 0);
    op.tcpPort = peer.port();
    const auto t0 = Clock::now();
    EXPECT_EQ(DoTCPRPCGram(&op), -1);
    const long long ms = millisSince(t0);
    EXPECT_GE(ms, 19'950);
    EXPECT_LT(ms, 21'500);
    rpcCloseOperation(&op);
}

}  // namespace
