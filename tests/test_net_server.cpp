// SPDX-License-Identifier: MIT
// The server side end to end on loopback (in a namespace of the test's own):
// record reading, the handler's answers, replies, and clients that misbehave.
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "qelrpc.h"
#include "platform/heap.h"
#include "rpc/record_marking.h"
#include "server/record_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}
uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// An AUTH_NULL call message, without record mark.
Bytes callMessage(uint32_t xid, uint32_t proc, const Bytes& args = {}, uint32_t rpcvers = 2, uint32_t type = 0) {
    Bytes b;
    for (uint32_t w : {xid, type, rpcvers, 300001u, 1u, proc, 0u, 0u, 0u, 0u}) put(b, w);
    b.insert(b.end(), args.begin(), args.end());
    return b;
}

Bytes record(const Bytes& msg) {
    Bytes b;
    put(b, 0x80000000u | static_cast<uint32_t>(msg.size()));
    b.insert(b.end(), msg.begin(), msg.end());
    return b;
}

// A plain blocking TCP client of the test's own.
struct Client {
    int fd = -1;
    // receiveBuffer: SO_RCVBUF set before connecting (so the window is
    // small from the start), 0 for the system's default.
    explicit Client(uint16_t port, int receiveBuffer = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer != 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Client() {
        if (fd >= 0) ::close(fd);
    }
    bool send(const Bytes& b) { return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size()); }
    // Reads one reply record (a single last fragment); empty on close or
    // after 5 seconds.
    Bytes reply() {
        Bytes mark = readN(4);
        if (mark.size() != 4) return {};
        return readN(word(mark.data()) & 0x7FFFFFFF);
    }
    // True when the server closed the connection within 5 seconds.
    bool closedByPeer() {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return false;
        char c;
        return ::recv(fd, &c, 1, 0) <= 0;
    }
    Bytes readN(size_t n) {
        Bytes b(n);
        size_t got = 0;
        while (got < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return {};
            ssize_t r = ::recv(fd, b.data() + got, n - got, 0);
            if (r <= 0) return {};
            got += static_cast<size_t>(r);
        }
        return b;
    }
};

// What the handler saw of each call.
struct Seen {
    uint32_t xid, prog, vers, proc, userData, received;
    Bytes block;
    bool fresh;  // both blocks zero, but for the call's own bytes (when looked at)
    int replyResult = 1000;  // what ReplyRPC returned
};
// Proc 8's results: the whole record (mark, 24-byte header, echoed word,
// these words) is 60,000 bytes.
constexpr uint32_t kLongReplyWords = (60000 - 4 - 24 - 4) / 4;
std::atomic<bool> g_checkFresh{false};  // looking costs a scan of 128 KB a call

bool allZero(const uint8_t* from, const uint8_t* to) {
    return std::all_of(from, to, [](uint8_t b) { return b == 0; });
}

std::mutex g_mu;
std::vector<Seen> g_seen;
// The answer the handler gives, by procedure number: proc 0 answers 1 (keep
// the connection), proc 9 stops the loop, proc 7 answers an unknown 7, proc
// 5 sends 4,000 result words and keeps the connection, proc 6 releases its
// operation itself and keeps the connection, proc 8 sends a 60,000-byte
// record and ends the connection, anything else answers 2.
int handler(RpcOperation* op, RpcSocket conn, uint32_t xid) {
    {
        const Mbuf& req = op->request;
        const Mbuf& rep = op->reply;
        const bool fresh = g_checkFresh && allZero(req.block.pos + req.block.count, req.block.pos + req.block.limit) &&
                           allZero(rep.block.pos, rep.block.pos + rep.block.limit) && rep.header.count == 0 &&
                           rep.data.count == 0;
        std::lock_guard<std::mutex> lock(g_mu);
        g_seen.push_back(Seen{xid, op->prog, op->vers, op->proc, op->userData, op->request.block.count,
                              Bytes(op->request.block.pos, op->request.block.pos + op->request.block.count), fresh, 1000});
    }
    rpcCreateReplyHeader(op, xid, 0, nullptr);
    InitDataBuffer(&op->reply);
    // Echo the first argument word, if any.
    uint32_t arg = 0;
    if (mbufGetLong(&op->request.data, &arg) == 0) mbufAddLong(&op->reply.data, static_cast<int32_t>(arg));
    if (op->proc == 5)
        for (int i = 0; i < 4000; ++i) mbufAddLong(&op->reply.data, 0x5A5A5A5A);
    if (op->proc == 8)
        for (uint32_t i = 0; i < kLongReplyWords; ++i) mbufAddLong(&op->reply.data, static_cast<int32_t>(i));
    const int sent = ReplyRPC(op, conn);
    {
        std::lock_guard<std::mutex> lock(g_mu);
        g_seen.back().replyResult = sent;
    }
    switch (op->proc) {
        case 0: return 1;
        case 5: return 1;
        case 6: rpcCloseOperation(op); return 1;
        case 9: return 0;
        case 7: return 7;
        case 8: return 2;
        default: return 2;
    }
}

class Server : public ::testing::Test {
  protected:
    RpcOperation listening{};
    uint16_t port = 0;
    std::thread loop;
    std::atomic<int> loopResult{1000};

    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(g_mu);
            g_seen.clear();
        }
        ASSERT_EQ(rpcInitServerOperation(&listening, 0), 0);
        port = ntohs(listening.localAddr.port);
        ASSERT_NE(port, 0);
        listening.userData = 0xFEED;
        loop = std::thread([this] { loopResult = rpcAcceptIncoming(&listening, handler); });
    }
    void TearDown() override {
        if (loop.joinable()) {
            stop();
            loop.join();
        }
        ::close(static_cast<int>(listening.sock));
        qelrpc::server::setRecordTimeoutMillis(0);
    }
    void stop() {
        Client c(port);
        c.send(record(callMessage(0x5709, 9)));
        c.reply();
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_seen;
    }
    // A well-formed call on a new connection is still answered.
    void expectStillServing(uint32_t xid) {
        Client c(port);
        ASSERT_TRUE(c.send(record(callMessage(xid, 2, {0, 0, 0, 42}))));
        Bytes r = c.reply();
        ASSERT_EQ(r.size(), 28u);
        EXPECT_EQ(word(r.data()), xid);
        EXPECT_EQ(word(r.data() + 24), 42u);
    }
};

TEST(ServerStart, PortZeroGivesTheChosenPortInNetworkOrder) {
    RpcOperation op;
    std::memset(&op, 0xAB, sizeof op);
    ASSERT_EQ(rpcInitServerOperation(&op, 0), 0);
    EXPECT_EQ(op.localAddr.family, AF_INET);
    EXPECT_NE(op.localAddr.port, 0);
    EXPECT_EQ(op.localAddr.addr, htonl(INADDR_LOOPBACK));  // the host's address in this namespace
    EXPECT_EQ(op.request.block.pos, nullptr);              // the record was cleared
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(static_cast<int>(op.sock), reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_EQ(a.sin_port, op.localAddr.port);
    ::close(static_cast<int>(op.sock));
    EXPECT_EQ(rpcInitServerOperation(nullptr, 0), -1);
    EXPECT_EQ(rpcAcceptIncoming(nullptr, handler), -1);
    EXPECT_EQ(rpcAcceptIncoming(&op, nullptr), -1);
}

TEST(ServerStart, ABoundPortIsRefusedWithBindFailure) {
    RpcOperation a, b;
    ASSERT_EQ(rpcInitServerOperation(&a, 0), 0);
    const uint16_t port = ntohs(a.localAddr.port);
    EXPECT_EQ(rpcInitServerOperation(&b, port), -4);
    EXPECT_NE(b.sock, RPC_INVALID_SOCKET);  // the caller's to close
    ::close(static_cast<int>(b.sock));
    ::close(static_cast<int>(a.sock));
}

TEST_F(Server, FragmentsArriveBackToBack) {
    Bytes msg = callMessage(0x100, 2, {0, 0, 0, 5});
    ASSERT_EQ(msg.size(), 44u);
    // Three fragments of 8, 0 and 36 bytes, the last marked.
    Bytes wire;
    put(wire, 8);
    wire.insert(wire.end(), msg.begin(), msg.begin() + 8);
    put(wire, 0);
    put(wire, 0x80000000u | 36);
    wire.insert(wire.end(), msg.begin() + 8, msg.end());
    Client c(port);
    ASSERT_TRUE(c.send(wire));
    Bytes r = c.reply();
    ASSERT_EQ(r.size(), 28u);
    auto s = seen();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].received, 44u);
    EXPECT_EQ(s[0].block, msg);
    EXPECT_EQ(s[0].prog, 300001u);
    EXPECT_EQ(s[0].userData, 0xFEEDu);
}

TEST_F(Server, ReplyRecordIsMarkedAndComplete) {
    Client c(port);
    ASSERT_TRUE(c.send(record(callMessage(0xABC, 2))));
    Bytes mark = c.readN(4);
    ASSERT_EQ(mark.size(), 4u);
    EXPECT_EQ(word(mark.data()), 0x80000018u);  // 24 bytes: xid, 1, 0, 0, 0, 0
    Bytes r = c.readN(24);
    const uint32_t want[] = {0xABC, 1, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(word(r.data() + 4 * i), want[i]);
}

TEST_F(Server, HandlerAnswersSteerTheConnection) {
    // Answer 1: the next call on the same connection reaches the handler.
    Client keep(port);
    ASSERT_TRUE(keep.send(record(callMessage(1, 0))));
    ASSERT_EQ(keep.reply().size(), 24u);
    ASSERT_TRUE(keep.send(record(callMessage(2, 0))));
    ASSERT_EQ(keep.reply().size(), 24u);
    // Answer 2 closes the connection; so does an unknown answer.
    ASSERT_TRUE(keep.send(record(callMessage(3, 2))));
    ASSERT_EQ(keep.reply().size(), 24u);
    EXPECT_TRUE(keep.closedByPeer());
    Client odd(port);
    ASSERT_TRUE(odd.send(record(callMessage(4, 7))));
    ASSERT_EQ(odd.reply().size(), 24u);
    EXPECT_TRUE(odd.closedByPeer());
    // Answer 0 ends the loop with 0 after closing the connection, and every
    // other connection the loop holds is closed as it returns: one kept
    // after its call, one idle, one in the middle of a call.
    Client kept(port), idle(port), halfway(port);
    ASSERT_TRUE(kept.send(record(callMessage(10, 0))));
    ASSERT_EQ(kept.reply().size(), 24u);
    ASSERT_TRUE(halfway.send({0x80, 0, 0, 40, 0, 0}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // all three accepted
    Client last(port);
    ASSERT_TRUE(last.send(record(callMessage(5, 9))));
    ASSERT_EQ(last.reply().size(), 24u);
    EXPECT_TRUE(last.closedByPeer());
    loop.join();
    EXPECT_EQ(loopResult.load(), 0);
    for (Client* c : {&kept, &idle, &halfway}) EXPECT_TRUE(c->closedByPeer());
    auto s = seen();
    ASSERT_EQ(s.size(), 6u);
    const uint32_t xids[] = {1, 2, 3, 4, 10, 5};
    for (size_t i = 0; i < s.size(); ++i) {
        EXPECT_EQ(s[i].xid, xids[i]);
        EXPECT_EQ(s[i].userData, 0xFEEDu);
    }
}

TEST_F(Server, HostileClientsAreDroppedAndServingGoesOn) {
    qelrpc::server::setRecordTimeoutMillis(300);
    struct Case {
        const char* what;
        Bytes bytes;
        bool expectClose;
    };
    Bytes notCall = record(callMessage(11, 2, {}, 2, 1));
    Bytes shortCred;
    for (uint32_t w : {12u, 0u, 2u, 1u, 1u, 1u, 1u, 400u}) put(shortCred, w);
    Bytes tooLong;
    for (int i = 0; i < 2; ++i) {
        put(tooLong, 40000);  // two fragments of 40,000 bytes: more than the block
        tooLong.resize(tooLong.size() + 40000, 0);
    }
    const Case cases[] = {
        {"partial record mark, then close", {0x80, 0x00}, false},
        {"record mark of 0x7FFFFFFF", {0x7F, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}, true},
        {"fragments totalling over 65,536 bytes", tooLong, true},
        {"a REPLY instead of a CALL", notCall, true},
        {"credential longer than the message", record(shortCred), true},
        {"connects and sends nothing", {}, true},
        {"stalls in the middle of a record", {0x80, 0, 0, 100, 1, 2, 3}, true},
    };
    uint32_t xid = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            Client bad(port);
            ASSERT_GE(bad.fd, 0);
            if (!c.bytes.empty()) bad.send(c.bytes);
            if (c.expectClose) {
                EXPECT_TRUE(bad.closedByPeer());
            }
        }
        expectStillServing(++xid);
    }
    EXPECT_EQ(seen().size(), 7u);  // only the well-formed calls reached the handler
}

TEST_F(Server, OtherRpcVersionIsAnsweredRpcMismatch) {
    Client c(port);
    ASSERT_TRUE(c.send(record(callMessage(0x33, 2, {}, 3))));
    Bytes r = c.reply();
    ASSERT_EQ(r.size(), 24u);
    const uint32_t want[] = {0x33, 1, 1, 0, 2, 2};  // REPLY, MSG_DENIED, RPC_MISMATCH, 2..2
    for (int i = 0; i < 6; ++i) EXPECT_EQ(word(r.data() + 4 * i), want[i]);
    // The connection stays usable.
    ASSERT_TRUE(c.send(record(callMessage(0x34, 0))));
    EXPECT_EQ(c.reply().size(), 24u);
    EXPECT_TRUE(seen().size() == 1u);
}

TEST_F(Server, ManyConnectionsAtOnceAreAllServed) {
    // More clients than the listen backlog, each connecting and calling at
    // the same moment; every one gets its own answer.
    constexpr int kClients = 24;
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            Client c(port);
            if (!c.send(record(callMessage(1000 + i, 2, {0, 0, 0, static_cast<uint8_t>(i)})))) return;
            Bytes r = c.reply();
            if (r.size() == 28 && word(r.data()) == 1000u + i && word(r.data() + 24) == static_cast<uint32_t>(i))
                ++answered;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(answered.load(), kClients);
    EXPECT_EQ(seen().size(), static_cast<size_t>(kClients));
}

// Every call's operation is fresh, whatever the calls before it wrote: long
// arguments and a long reply on one connection, a handler that released its
// operation itself, then more calls.
TEST_F(Server, EachCallGetsFreshBlocks) {
    g_checkFresh = true;
    {
        Client c(port);
        ASSERT_TRUE(c.send(record(callMessage(60, 5, Bytes(6000, 0x33)))));
        EXPECT_EQ(c.reply().size(), 28u + 4 * 4000);
        ASSERT_TRUE(c.send(record(callMessage(61, 0, {0, 0, 0, 1}))));
        EXPECT_EQ(c.reply().size(), 28u);
        ASSERT_TRUE(c.send(record(callMessage(62, 6, {0, 0, 0, 2}))));
        EXPECT_EQ(c.reply().size(), 28u);
        ASSERT_TRUE(c.send(record(callMessage(63, 0))));
        EXPECT_EQ(c.reply().size(), 24u);
    }
    expectStillServing(64);
    g_checkFresh = false;
    const auto s = seen();
    ASSERT_EQ(s.size(), 5u);
    for (const Seen& one : s) {
        SCOPED_TRACE(one.xid);
        EXPECT_TRUE(one.fresh);
    }
}

TEST_F(Server, CallsSentBackToBackAreServedInOrderNoneLost) {
    // One send carries three whole calls (the second in two fragments) and
    // the first two bytes of a fourth's mark; the rest of the fourth comes
    // later. The server may take all of it in one read: the calls behind
    // the first must still be served, in order, though the socket has
    // nothing more to say when they are due, and each in fresh blocks.
    g_checkFresh = true;
    const Bytes second = callMessage(0x72, 0, {0, 0, 0, 2});
    Bytes wire = record(callMessage(0x71, 0, {0, 0, 0, 1}));
    put(wire, 8);
    wire.insert(wire.end(), second.begin(), second.begin() + 8);
    put(wire, 0x80000000u | static_cast<uint32_t>(second.size() - 8));
    wire.insert(wire.end(), second.begin() + 8, second.end());
    const Bytes third = record(callMessage(0x73, 5, {0, 0, 0, 3}));
    wire.insert(wire.end(), third.begin(), third.end());
    const Bytes fourth = record(callMessage(0x74, 0, {0, 0, 0, 4}));
    wire.insert(wire.end(), fourth.begin(), fourth.begin() + 2);
    {
        Client c(port);
        Client other(port);  // served in between
        ASSERT_TRUE(c.send(wire));
        struct Expected {
            uint32_t xid;
            size_t size;
        };
        const Expected first3[] = {{0x71, 28}, {0x72, 28}, {0x73, 28 + 4 * 4000}};
        for (const Expected& e : first3) {
            SCOPED_TRACE(e.xid);
            const Bytes r = c.reply();
            ASSERT_EQ(r.size(), e.size);
            EXPECT_EQ(word(r.data()), e.xid);
            EXPECT_EQ(word(r.data() + 24), e.xid - 0x70);
        }
        ASSERT_TRUE(other.send(record(callMessage(0x80, 0, {0, 0, 0, 8}))));
        EXPECT_EQ(other.reply().size(), 28u);
        ASSERT_TRUE(c.send(Bytes(fourth.begin() + 2, fourth.end())));
        const Bytes r = c.reply();
        ASSERT_EQ(r.size(), 28u);
        EXPECT_EQ(word(r.data()), 0x74u);
    }
    g_checkFresh = false;
    const auto s = seen();
    ASSERT_EQ(s.size(), 5u);
    const uint32_t order[] = {0x71, 0x72, 0x73, 0x80, 0x74};
    for (size_t i = 0; i < s.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s[i].xid, order[i]);
        EXPECT_TRUE(s[i].fresh);
    }
    EXPECT_EQ(s[1].block, second);
}

TEST_F(Server, APipelinedCallLeftHalfWayIsBoundedToo) {
    // A whole call, then the start of the next in the same send, then
    // silence: the half-read call is under the record bound like any.
    qelrpc::server::setRecordTimeoutMillis(300);
    Bytes wire = record(callMessage(0x91, 0, {0, 0, 0, 1}));
    const Bytes next = record(callMessage(0x92, 0));
    wire.insert(wire.end(), next.begin(), next.begin() + 10);
    Client c(port);
    ASSERT_TRUE(c.send(wire));
    EXPECT_EQ(c.reply().size(), 28u);
    EXPECT_TRUE(c.closedByPeer());
    expectStillServing(0x93);
}

TEST_F(Server, NoMemoryForACallDropsOnlyThatConnection) {
    qelrpc::heap::failAfter(0);
    {
        Client c(port);
        c.send(record(callMessage(50, 2)));
        EXPECT_TRUE(c.closedByPeer());
    }
    qelrpc::heap::failAfter(-1);
    expectStillServing(51);
}

TEST_F(Server, ClientReadingNothingCannotHoldTheServer) {
    qelrpc::server::setRecordTimeoutMillis(300);
    // A client that sends a call with a huge answer pending and never reads:
    // here, many calls on one connection whose replies pile up unread.
    Client greedy(port);
    Bytes many;
    for (int i = 0; i < 4000; ++i) {
        Bytes r = record(callMessage(60000 + i, 0, {0, 0, 0, 1}));
        many.insert(many.end(), r.begin(), r.end());
    }
    std::thread writer([&] { greedy.send(many); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    expectStillServing(70000);
    ::shutdown(greedy.fd, SHUT_RDWR);
    writer.join();
}

// A client that sends empty fragments without end adds no bytes to its
// record, yet must not hold the one-at-a-time loop: the fragment cap ends it
// at once, the record's deadline ends a slower stream.
TEST_F(Server, EndlessEmptyFragmentsAreDropped) {
    struct Case {
        const char* what;
        uint64_t recordMillis;
        int fragmentsPerSend;
        int pauseMicros;
    };
    const Case cases[] = {
        {"70,000 empty fragments at once, default deadline", 0, 70000, 0},
        {"a steady stream of empty fragments past the deadline", 300, 16, 1000},
    };
    uint32_t xid = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qelrpc::server::setRecordTimeoutMillis(c.recordMillis);
        Client bad(port);
        ASSERT_GE(bad.fd, 0);
        const Bytes burst(static_cast<size_t>(c.fragmentsPerSend) * 4, 0);  // marks of length 0, not last
        std::atomic<bool> refused{false};
        std::thread sender([&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(6);
            while (std::chrono::steady_clock::now() < until) {
                if (!bad.send(burst)) {
                    refused = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(c.pauseMicros));
            }
        });
        const auto start = std::chrono::steady_clock::now();
        sender.join();
        EXPECT_TRUE(refused.load()) << "the server still took fragments after 6 s";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        expectStillServing(++xid);
    }
    EXPECT_EQ(seen().size(), 2u);
}

// A client with a small receive window that only reads its long reply half
// a second later gets every byte and then an orderly end, never a reset.
TEST_F(Server, AnEndedConnectionDeliversItsWholeReply) {
    Client slow(port, 2048);
    ASSERT_GE(slow.fd, 0);
    const int fd = slow.fd;
    ASSERT_TRUE(slow.send(record(callMessage(0x800, 8, {0, 0, 0, 9}))));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Bytes whole;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) break;
        uint8_t buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0) ADD_FAILURE() << "after " << whole.size() << " bytes: " << std::strerror(errno);
        if (n <= 0) break;
        whole.insert(whole.end(), buf, buf + n);
    }
    ASSERT_EQ(whole.size(), 60000u);
    EXPECT_EQ(word(whole.data()), 0x80000000u | (60000 - 4));
    EXPECT_EQ(word(whole.data() + 4), 0x800u);
    EXPECT_EQ(word(whole.data() + 28), 9u);
    for (uint32_t i = 0; i < kLongReplyWords; i += 997) EXPECT_EQ(word(whole.data() + 32 + 4 * i), i);
    EXPECT_EQ(word(whole.data() + 60000 - 4), kLongReplyWords - 1);
    const auto s = seen();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].replyResult, 0);
}

// The local and remote ports of the TIME_WAIT sockets in this namespace.
std::vector<std::pair<uint16_t, uint16_t>> timeWaits() {
    std::vector<std::pair<uint16_t, uint16_t>> out;
    FILE* f = std::fopen("/proc/net/tcp", "r");
    if (f == nullptr) return out;
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        unsigned local = 0, remote = 0, state = 0;
        if (std::sscanf(line, " %*d: %*8x:%4x %*8x:%4x %2x", &local, &remote, &state) == 3 && state == 0x06)
            out.emplace_back(static_cast<uint16_t>(local), static_cast<uint16_t>(remote));
    }
    std::fclose(f);
    return out;
}

// A client that closes as soon as it has its answer keeps the TIME_WAIT of
// that connection on its own side, even when the handler ends it; a reply
// that cannot be sent ends its connection at once.
TEST_F(Server, ClientsClosingAfterTheirAnswerLeaveNoTimeWaitOnTheServer) {
    uint16_t clientPort = 0;
    {
        Client c(port);
        sockaddr_in me{};
        socklen_t len = sizeof me;
        ASSERT_EQ(::getsockname(c.fd, reinterpret_cast<sockaddr*>(&me), &len), 0);
        clientPort = ntohs(me.sin_port);
        ASSERT_TRUE(c.send(record(callMessage(0x900, 2, {0, 0, 0, 1}))));
        ASSERT_EQ(c.reply().size(), 28u);
    }
    expectStillServing(0x901);  // the first connection is done with by now
    bool serverSide = false, clientSide = false;
    for (const auto& [local, remote] : timeWaits()) {
        serverSide |= local == port && remote == clientPort;
        clientSide |= local == clientPort && remote == port;
    }
    EXPECT_FALSE(serverSide);
    EXPECT_TRUE(clientSide);
}

TEST_F(Server, AReplyThatCannotBeSentEndsItsConnection) {
    qelrpc::server::setRecordTimeoutMillis(300);
    // Calls for 16 KB answers, all sent at once, on a connection whose
    // receive window is tiny and never read. The loop keeps the reply the
    // socket would not take (ReplyRPC succeeds), reads no more of that
    // connection's calls meanwhile, serves others, and resets the
    // connection once the reply is still not out after the bound.
    Client greedy(port, 2048);
    ASSERT_GE(greedy.fd, 0);
    Bytes many;
    for (int i = 0; i < 400; ++i) {
        Bytes r = record(callMessage(80000 + i, 5, {0, 0, 0, 1}));
        many.insert(many.end(), r.begin(), r.end());
    }
    ASSERT_TRUE(greedy.send(many));
    const auto start = std::chrono::steady_clock::now();
    expectStillServing(0x902);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // Still never reading, the client sees the reset (a hang-up and an
    // error, no orderly end) well within 10 seconds.
    pollfd p{greedy.fd, 0, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << "no reset";
    EXPECT_TRUE(p.revents & POLLERR) << p.revents;
    const auto s = seen();
    ASSERT_GE(s.size(), 2u);
    EXPECT_LT(s.size(), 400u);  // the calls behind the stalled reply were never read
    for (const Seen& one : s) EXPECT_EQ(one.replyResult, 0);
}

// 200 clients connecting and calling at the same moment are all answered in
// a bounded time: the listen queue holds them all.
TEST_F(Server, ABurstOfTwoHundredClientsIsAllAnswered) {
    constexpr int kClients = 200;
    std::atomic<bool> go{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            while (!go) std::this_thread::yield();
            Client c(port);
            if (c.fd < 0) return;
            if (!c.send(record(callMessage(3000 + i, 2, {0, 0, 0, static_cast<uint8_t>(i)})))) return;
            Bytes r = c.reply();
            if (r.size() == 28 && word(r.data()) == 3000u + i) ++answered;
        });
    }
    const auto start = std::chrono::steady_clock::now();
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(answered.load(), kClients);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// A signal landing while the server waits for a call's next bytes, or for
// room for its reply, only wakes the wait: the record goes on within its
// bound. (An interrupted wait once ended the record at once as timed out.)
class ServerRecordSignals : public ::testing::Test {
  protected:
    int pair[2] = {-1, -1};  // [0] the server's end, non-blocking; [1] the test's
    struct sigaction previous {};
    void SetUp() override {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};  // no SA_RESTART: waits see EINTR
        ASSERT_EQ(::sigaction(SIGUSR1, &sa, &previous), 0);
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ASSERT_EQ(::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK), 0);
        const timeval bound{3, 0};  // the test's end never waits longer
        ASSERT_EQ(::setsockopt(pair[1], SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound), 0);
        qelrpc::server::setRecordTimeoutMillis(5000);
    }
    void TearDown() override {
        ::close(pair[0]);
        ::close(pair[1]);
        ::sigaction(SIGUSR1, &previous, nullptr);
        qelrpc::server::setRecordTimeoutMillis(0);
    }
    // Signals t a few times while it waits on the server's end.
    static void interrupt(std::thread& t) {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            ::pthread_kill(t.native_handle(), SIGUSR1);
        }
    }
};

TEST_F(ServerRecordSignals, ACallRecordIsReadWhole) {
    Bytes block(4096);
    RpcOperation op{};
    op.request.block = MbufCursor{0, static_cast<uint32_t>(block.size()), block.data()};
    int rc = -99;
    // The record reader driven by waits, under the server's bound for one
    // record: the whole of it within the record timeout, no silence limit.
    std::thread server([&] {
        qelrpc::record::RecordReader reader;
        const qelrpc::record::Bounds bounds{qelrpc::record::kNoSilenceLimit,
                                            qelrpc::deadline::after(qelrpc::server::recordTimeoutMillis() * 1000),
                                            qelrpc::platform::sockerr::kTimedOut};
        rc = qelrpc::record::readRecord(pair[0], op.request.block, bounds, reader);
    });
    interrupt(server);
    const Bytes call = callMessage(0x51, 2, {0, 0, 0, 7});
    const Bytes rec = record(call);
    ASSERT_EQ(::send(pair[1], rec.data(), rec.size(), 0), static_cast<ssize_t>(rec.size()));
    server.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + op.request.block.count), call);
}

TEST_F(ServerRecordSignals, AReplyIsSentWhole) {
    // Far more than the socket pair buffers, so the send must wait for room.
    Bytes block(1u << 20, 0x5A);
    RpcOperation op{};
    op.reply.block = MbufCursor{0, static_cast<uint32_t>(block.size()), block.data()};
    op.reply.header.count = static_cast<uint32_t>(block.size());
    int rc = -99;
    std::thread server([&] { rc = ReplyRPC(&op, pair[0]); });
    interrupt(server);
    Bytes got;
    uint8_t buf[65536];
    for (ssize_t n; got.size() < block.size() && (n = ::recv(pair[1], buf, sizeof buf, 0)) > 0;)
        got.insert(got.end(), buf, buf + n);
    server.join();
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(got.size(), block.size());
    EXPECT_EQ(word(got.data()), 0x80000000u | (block.size() - 4));
    EXPECT_TRUE(std::all_of(got.begin() + 4, got.end(), [](uint8_t b) { return b == 0x5A; }));
}


// The record reader on its own, over a socket pair: a stream of records is
// written in pieces of every size from one byte to all at once, and read
// as the server reads it (each record whole into a block of its own, what
// came behind it carried into the next). However the bytes come, the
// records are the same, nothing lands past what reach() reports, and a
// record as long as the block fits it exactly.
TEST(RecordReader, RecordsAreTheSameHoweverTheirBytesArrive) {
    const Bytes one = callMessage(1, 0), two = callMessage(2, 0, Bytes(16, 0x22)), three(64, 0x33);
    Bytes wire = record(one);
    put(wire, 12);  // two: fragments of 12, 0 and the rest
    wire.insert(wire.end(), two.begin(), two.begin() + 12);
    put(wire, 0);
    put(wire, 0x80000000u | static_cast<uint32_t>(two.size() - 12));
    wire.insert(wire.end(), two.begin() + 12, two.end());
    const Bytes third = record(three);  // exactly the block's limit
    wire.insert(wire.end(), third.begin(), third.end());
    const Bytes expected[] = {one, two, three};

    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{7}, size_t{13}, wire.size()}) {
        SCOPED_TRACE(piece);
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ASSERT_EQ(::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK), 0);
        qelrpc::record::RecordReader reader;
        std::vector<Bytes> blocks(1, Bytes(64 + 16, 0));
        MbufCursor in{0, 64, blocks.back().data()};
        std::vector<Bytes> got;
        size_t sent = 0;
        for (int turn = 0; turn < 1000 && got.size() < 3; ++turn) {
            const int rc = reader.readAvailable(pair[0], in);
            if (rc == 0) {
                got.emplace_back(in.pos, in.pos + in.count);
                const uint32_t reach = reader.reach();
                ASSERT_GE(reach, in.count);
                ASSERT_LE(reach, in.limit);
                // Nothing was written past the reach (nor so past the limit).
                EXPECT_TRUE(allZero(in.pos + reach, in.pos + 64 + 16));
                blocks.emplace_back(64 + 16, 0);
                MbufCursor next{0, 64, blocks.back().data()};
                ASSERT_TRUE(reader.carry(in, next));
                in = next;
                continue;
            }
            ASSERT_EQ(rc, 10035);  // WSAEWOULDBLOCK: the socket is empty for now
            ASSERT_LT(sent, wire.size()) << "the reader wants more than was sent";
            const size_t n = std::min(piece, wire.size() - sent);
            ASSERT_EQ(::send(pair[1], wire.data() + sent, n, 0), static_cast<ssize_t>(n));
            sent += n;
        }
        ::close(pair[0]);
        ::close(pair[1]);
        ASSERT_EQ(got.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << "record " << i;
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

}  // namespace
