// SPDX-License-Identifier: MIT
// The exchange observer (rpcSetExchangeObserver), through the exported
// interface only: this file is also built against the shared library
// (QELRPC_SHARED_LIBRARY_TESTS). The peer is rpcbind, started in the
// test's own network namespace (tests/in_netns.sh); what the observer is
// shown is compared with the operation's own blocks and with the library's
// own port look-ups.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "nfsuser_peers.h"
#include "peer_skip.h"
#include "qelrpc.h"

namespace {

constexpr uint32_t kPortmapper = 100000;
constexpr int kRefused = 10061;             // WSAECONNREFUSED
constexpr int kNotPrepared = 87;            // ERROR_INVALID_PARAMETER: no call in the request block
constexpr uint32_t kUnregistered = 0x20000F7Fu;

// One view as the observer saw it, its bytes copied out.
struct Seen {
    const RpcOperation* op;
    int transport;
    int status;
    uint32_t hostAddr;
    uint16_t port;
    uint32_t recordMark;
    std::vector<uint8_t> call, reply;
    bool replyNull;
};

void record(const RpcExchangeView* v, void* context) {
    auto* seen = static_cast<std::vector<Seen>*>(context);
    seen->push_back(Seen{v->op, v->transport, v->status, v->hostAddr, v->port, v->recordMark,
                         std::vector<uint8_t>(v->call, v->call + v->callLength),
                         v->reply ? std::vector<uint8_t>(v->reply, v->reply + v->replyLength) : std::vector<uint8_t>{},
                         v->reply == nullptr});
}

uint32_t word(const std::vector<uint8_t>& b, size_t at) {
    return at + 4 <= b.size() ? (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3]
                              : 0xFFFFFFFFu;
}

// Installed for one test body, removed whatever happens.
struct Observing {
    std::vector<Seen> seen;
    Observing() { rpcSetExchangeObserver(record, &seen); }
    ~Observing() { rpcSetExchangeObserver(nullptr, nullptr); }
};

class Observer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!nfspeers::startRpcbind(rpcbind_)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind did not start");
        ASSERT_EQ(rpcInitOperationEx(&op_, nullptr, htonl(INADDR_LOOPBACK)), 0);
        ASSERT_TRUE(rpcCreateAuthNull(&op_));
        op_.prog = kPortmapper;
        op_.vers = 2;
    }
    void TearDown() override { rpcCloseOperation(&op_); }

    // A null call to the portmapper on the transport the ports choose.
    int nullCall(uint16_t tcpPort, uint16_t udpPort) {
        op_.tcpPort = tcpPort;
        op_.udpPort = udpPort;
        if (rpcPrepareRPCHeader(&op_, 0) != 0) return 1000;
        InitDataBuffer(&op_.request);
        return CallRPC(&op_, 0);
    }

    testproc::Child rpcbind_;
    RpcOperation op_{};
};

// The view is the exchange: the call bytes the request block sent, the
// record mark TCP put ahead of them, the reply bytes the reply block holds.
TEST_F(Observer, ShowsEachExchangeAsSentAndReceived) {
    struct Case {
        const char* name;
        uint16_t tcpPort, udpPort;
        int transport;
    };
    for (const Case& c : {Case{"tcp", 111, 0, RPC_EXCHANGE_TCP}, Case{"udp", 0, 111, RPC_EXCHANGE_UDP}}) {
        SCOPED_TRACE(c.name);
        Observing o;
        ASSERT_EQ(nullCall(c.tcpPort, c.udpPort), 0);
        ASSERT_EQ(o.seen.size(), 1u);
        const Seen& s = o.seen[0];
        EXPECT_EQ(s.op, &op_);
        EXPECT_EQ(s.transport, c.transport);
        EXPECT_EQ(s.status, 0);
        EXPECT_EQ(s.hostAddr, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(s.port, 111);
        const uint32_t sent = op_.request.header.count + op_.request.data.count - 4;
        EXPECT_EQ(s.call, std::vector<uint8_t>(op_.request.block.pos + 4, op_.request.block.pos + 4 + sent));
        EXPECT_EQ(s.recordMark, c.transport == RPC_EXCHANGE_TCP ? (0x80000000u | sent) : 0u);
        EXPECT_EQ(s.reply, std::vector<uint8_t>(op_.reply.block.pos, op_.reply.block.pos + op_.reply.block.count));
        EXPECT_EQ(word(s.reply, 0), word(s.call, 0));  // the reply to this call
    }
}

// The library's own operations are shown too: GetProgramPort's GETPORT
// questions to the portmapper, for the TCP port and then the UDP port of a
// program that is not registered (each answered with port 0).
TEST_F(Observer, ShowsTheLibrarysOwnPortLookUps) {
    Observing o;
    EXPECT_NE(GetProgramPort(&op_, kUnregistered, 1, 0), 0);
    ASSERT_EQ(o.seen.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Seen& s = o.seen[i];
        EXPECT_NE(s.op, &op_);  // an operation of the library's own
        EXPECT_EQ(s.transport, RPC_EXCHANGE_TCP);
        EXPECT_EQ(s.status, 0);
        EXPECT_EQ(s.port, 111);
        EXPECT_EQ(word(s.call, 12), kPortmapper);
        EXPECT_EQ(word(s.call, 20), 3u);  // PMAPPROC_GETPORT
        EXPECT_EQ(word(s.call, 40), kUnregistered);
        EXPECT_EQ(word(s.call, 48), i == 0 ? 6u : 17u);  // the protocol asked about
        EXPECT_EQ(word(s.reply, 24), 0u);  // port 0: not registered
    }
}

// A call that went out and got nothing back is shown with its status and
// no reply; one that was never prepared went nowhere and is not shown;
// without an observer nothing is.
TEST_F(Observer, ShowsFailedExchangesButNotUnpreparedOnes) {
    {
        Observing o;
        EXPECT_EQ(nullCall(1, 0), kRefused);  // nothing listens on port 1
        ASSERT_EQ(o.seen.size(), 1u);
        EXPECT_EQ(o.seen[0].status, kRefused);
        EXPECT_TRUE(o.seen[0].replyNull);
        EXPECT_EQ(word(o.seen[0].call, 12), kPortmapper);

        RpcOperation empty;
        ASSERT_EQ(rpcInitOperationEx(&empty, nullptr, htonl(INADDR_LOOPBACK)), 0);
        empty.tcpPort = 111;
        EXPECT_EQ(DoTCPRPCGram(&empty), kNotPrepared);
        rpcCloseOperation(&empty);
        EXPECT_EQ(o.seen.size(), 1u);
    }
    std::vector<Seen> after;
    rpcSetExchangeObserver(record, &after);
    rpcSetExchangeObserver(nullptr, &after);
    ASSERT_EQ(nullCall(111, 0), 0);
    EXPECT_TRUE(after.empty());
}

// Each thread has its own observer; an observer's own calls are not shown
// to it (no recursion), and it sees the exchange that called it complete.
TEST_F(Observer, IsPerThreadAndNotShownItsOwnCalls) {
    Observing o;
    std::vector<Seen> other;
    int otherStatus = -1;
    std::thread t([&] {
        RpcOperation op;
        if (rpcInitOperationEx(&op, nullptr, htonl(INADDR_LOOPBACK)) != 0 || !rpcCreateAuthNull(&op)) return;
        op.prog = kPortmapper;
        op.vers = 2;
        op.udpPort = 111;
        rpcPrepareRPCHeader(&op, 0);
        InitDataBuffer(&op.request);
        otherStatus = CallRPC(&op, 0);  // before this thread has an observer: not shown anywhere
        rpcSetExchangeObserver(record, &other);
        rpcPrepareRPCHeader(&op, 0);
        InitDataBuffer(&op.request);
        CallRPC(&op, 0);
        rpcSetExchangeObserver(nullptr, nullptr);
        rpcCloseOperation(&op);
    });
    t.join();
    EXPECT_EQ(otherStatus, 0);
    EXPECT_TRUE(o.seen.empty());
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].transport, RPC_EXCHANGE_UDP);

    // An observer that makes a call of its own for every exchange it sees.
    struct Nested {
        int shown = 0;
        int innerStatus = -1;
    } nested;
    rpcSetExchangeObserver(
        [](const RpcExchangeView*, void* context) {
            auto* n = static_cast<Nested*>(context);
            ++n->shown;
            RpcOperation op;
            if (rpcInitOperationEx(&op, nullptr, htonl(INADDR_LOOPBACK)) != 0) return;
            n->innerStatus = GetProgramPort(&op, kUnregistered, 1, 0);
            rpcCloseOperation(&op);
        },
        &nested);
    ASSERT_EQ(nullCall(111, 0), 0);
    EXPECT_EQ(nested.shown, 1);
    EXPECT_NE(nested.innerStatus, -1);  // its calls were made, just not shown
}

}  // namespace
