// SPDX-License-Identifier: MIT
// The server side on Windows (under Wine, on loopback): the listening port is
// this server's own, a connection the handler ends delivers its whole reply,
// and the loop serves many connections at once (more than the 64 sockets of
// the system's default select set) while others sit idle or stall.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "qelrpc.h"

namespace {

constexpr int kAddressInUse = 10048;  // WSAEADDRINUSE

using Bytes = std::vector<uint8_t>;

uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

class WinServer : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(qelrpc::platform::startSockets(), 0); }
    void TearDown() override { qelrpc::platform::stopSockets(); }
};

// A second server on a port this one listens on is refused with the bind
// code, and so is another program asking to share the port (SO_REUSEADDR):
// calls meant for this server cannot be taken from it.
TEST_F(WinServer, ItsPortCannotBeTakenOrShared) {
    RpcOperation first{}, second{};
    ASSERT_EQ(rpcInitServerOperation(&first, 0), 0);
    const uint16_t port = ntohs(first.localAddr.port);
    EXPECT_EQ(rpcInitServerOperation(&second, port), -4);
    EXPECT_EQ(WSAGetLastError(), kAddressInUse);
    if (second.sock != RPC_INVALID_SOCKET) closesocket(static_cast<SOCKET>(second.sock));

    const SOCKET intruder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(intruder, INVALID_SOCKET);
    BOOL on = TRUE;
    setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = first.localAddr.addr;
    EXPECT_EQ(bind(intruder, reinterpret_cast<const sockaddr*>(&at), sizeof at), SOCKET_ERROR);
    closesocket(intruder);
    closesocket(static_cast<SOCKET>(first.sock));
}

// Proc 8: a 60,000-byte record, then the handler ends the connection (2).
// Anything else: an empty reply, and the loop stops (0).
constexpr uint32_t kLongReplyWords = (60000 - 4 - 24) / 4;
std::atomic<int> g_replyResult{1000};

int handler(RpcOperation* op, RpcSocket conn, uint32_t xid) {
    rpcCreateReplyHeader(op, xid, 0, nullptr);
    InitDataBuffer(&op->reply);
    if (op->proc == 8)
        for (uint32_t i = 0; i < kLongReplyWords; ++i) mbufAddLong(&op->reply.data, static_cast<int32_t>(i));
    const int rc = ReplyRPC(op, conn);
    if (op->proc != 8) return 0;
    g_replyResult = rc;
    return 2;
}

Bytes callRecord(uint32_t xid, uint32_t proc) {
    Bytes b;
    const uint32_t words[] = {0x80000000u | 40, xid, 0, 2, 300001, 1, proc, 0, 0, 0, 0};
    for (uint32_t w : words)
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
    return b;
}

SOCKET connectTo(uint32_t addr, uint16_t port, int receiveBuffer) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return s;
    if (receiveBuffer != 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = addr;
    if (connect(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Everything the peer sends until its end (true) or an error (false), each
// wait at most 5 seconds.
bool readToEnd(SOCKET s, Bytes& out, int& error) {
    for (;;) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv{5, 0};
        if (select(0, &r, nullptr, nullptr, &tv) != 1) {
            error = 0;
            return false;
        }
        uint8_t buf[4096];
        const int n = recv(s, reinterpret_cast<char*>(buf), sizeof buf, 0);
        if (n == 0) return true;
        if (n < 0) {
            error = WSAGetLastError();
            return false;
        }
        out.insert(out.end(), buf, buf + n);
    }
}

// A client with a small receive window that reads its long reply only half
// a second after the call gets all of it and an orderly end, not a reset.
TEST_F(WinServer, AnEndedConnectionDeliversItsWholeReply) {
    RpcOperation listening{};
    ASSERT_EQ(rpcInitServerOperation(&listening, 0), 0);
    const uint16_t port = ntohs(listening.localAddr.port);
    std::atomic<int> loop{99};
    std::thread server([&] { loop = rpcAcceptIncoming(&listening, handler); });

    const SOCKET slow = connectTo(listening.localAddr.addr, port, 2048);
    ASSERT_NE(slow, INVALID_SOCKET);
    const Bytes call = callRecord(0x800, 8);
    EXPECT_EQ(send(slow, reinterpret_cast<const char*>(call.data()), static_cast<int>(call.size()), 0),
              static_cast<int>(call.size()));
    Sleep(500);
    Bytes whole;
    int error = 0;
    const bool ended = readToEnd(slow, whole, error);
    closesocket(slow);

    // Stop the loop: a call answered 0.
    const SOCKET last = connectTo(listening.localAddr.addr, port, 0);
    if (last != INVALID_SOCKET) {
        const Bytes stop = callRecord(0x801, 0);
        send(last, reinterpret_cast<const char*>(stop.data()), static_cast<int>(stop.size()), 0);
        Bytes rest;
        int ignored = 0;
        readToEnd(last, rest, ignored);
        closesocket(last);
    }
    server.join();
    closesocket(static_cast<SOCKET>(listening.sock));

    EXPECT_TRUE(ended) << "after " << whole.size() << " bytes: error " << error;
    ASSERT_EQ(whole.size(), 60000u);
    EXPECT_EQ(word(whole.data()), 0x80000000u | (60000 - 4));
    EXPECT_EQ(word(whole.data() + 4), 0x800u);
    EXPECT_EQ(word(whole.data() + 60000 - 4), kLongReplyWords - 1);
    EXPECT_EQ(g_replyResult.load(), 0);
    EXPECT_EQ(loop.load(), 0);
}

// Proc 1: an empty reply, the connection kept (1); proc 0: the loop stops.
int keepingHandler(RpcOperation* op, RpcSocket conn, uint32_t xid) {
    rpcCreateReplyHeader(op, xid, 0, nullptr);
    InitDataBuffer(&op->reply);
    if (ReplyRPC(op, conn) != 0) return 2;
    return op->proc == 0 ? 0 : 1;
}

// One reply record of `expect` bytes (mark included), within 5 seconds.
bool readReply(SOCKET s, size_t expect, uint32_t xid) {
    Bytes got;
    while (got.size() < expect) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv{5, 0};
        if (select(0, &r, nullptr, nullptr, &tv) != 1) return false;
        uint8_t buf[256];
        const int n = recv(s, reinterpret_cast<char*>(buf), static_cast<int>(std::min(sizeof buf, expect - got.size())), 0);
        if (n <= 0) return false;
        got.insert(got.end(), buf, buf + n);
    }
    return word(got.data() + 4) == xid;
}

// An idle client and one stalled in the middle of a call stay connected
// while 80 clients, all connected at once and keeping their connections,
// make two calls each: every call is answered, none waits for the stalled
// or idle one.
TEST_F(WinServer, TheLoopServesEveryConnectionAtOnce) {
    RpcOperation listening{};
    ASSERT_EQ(rpcInitServerOperation(&listening, 0), 0);
    const uint16_t port = ntohs(listening.localAddr.port);
    const uint32_t addr = listening.localAddr.addr;
    std::atomic<int> loop{99};
    std::thread server([&] { loop = rpcAcceptIncoming(&listening, keepingHandler); });

    const SOCKET idle = connectTo(addr, port, 0);
    const SOCKET stalled = connectTo(addr, port, 0);
    ASSERT_NE(idle, INVALID_SOCKET);
    ASSERT_NE(stalled, INVALID_SOCKET);
    const Bytes part = callRecord(0x500, 1);
    send(stalled, reinterpret_cast<const char*>(part.data()), 10, 0);

    constexpr int kClients = 80;
    std::vector<SOCKET> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(connectTo(addr, port, 0));
        ASSERT_NE(clients.back(), INVALID_SOCKET) << i;
    }
    const DWORD start = GetTickCount();
    int answered = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kClients; ++i) {
            const uint32_t xid = 0x1000 + round * kClients + i;
            const Bytes call = callRecord(xid, 1);
            if (send(clients[i], reinterpret_cast<const char*>(call.data()), static_cast<int>(call.size()), 0) !=
                static_cast<int>(call.size()))
                continue;
            answered += readReply(clients[i], 28, xid);
        }
    }
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(answered, 2 * kClients);
    EXPECT_LT(took, 10000u);

    // Stop the loop: a call answered 0. Every connection it opened is closed
    // as it returns, the idle one included.
    const Bytes stop = callRecord(0x501, 0);
    send(clients[0], reinterpret_cast<const char*>(stop.data()), static_cast<int>(stop.size()), 0);
    server.join();
    EXPECT_EQ(loop.load(), 0);
    Bytes rest;
    int error = 0;
    EXPECT_TRUE(readToEnd(idle, rest, error)) << error;
    EXPECT_TRUE(rest.empty());
    for (SOCKET s : clients) closesocket(s);
    closesocket(idle);
    closesocket(stalled);
    closesocket(static_cast<SOCKET>(listening.sock));
}

}  // namespace
