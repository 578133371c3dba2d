// SPDX-License-Identifier: MIT
// A server endpoint on a chosen address (rpcInitServerOperationAt), through
// the exported interface only: this file is also built against the shared
// library (QELRPC_SHARED_LIBRARY_TESTS). It runs in namespaces of its own
// (tests/in_netns.sh): only loopback is up, where 127.0.0.1 and 127.0.1.1
// (a stock Debian host's own name) are both local addresses, and the host
// name is the test's to change.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "qelrpc.h"

namespace {

constexpr uint32_t kProg = 0x20000F07;
constexpr uint32_t kAnswer = 0x51A7E;

uint32_t dotted(const char* text) {
    in_addr a{};
    EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
    return a.s_addr;
}

// Answers every call with one word and stops the loop after it.
int answerAndStop(RpcOperation* op, RpcSocket conn, uint32_t xid) {
    rpcCreateReplyHeader(op, xid, 0, nullptr);
    InitDataBuffer(&op->reply);  // the results go behind the header
    mbufAddLong(&op->reply.data, static_cast<int32_t>(kAnswer));
    ReplyRPC(op, conn);
    return 0;
}

// A plain TCP connect: true when the address and port take connections.
bool connects(uint32_t addr, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addr;
    to.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    close(fd);
    return ok;
}

// One call through the library's client to addr:port; the answer word, or
// 0 when the call failed.
uint32_t callOnce(uint32_t addr, uint16_t port) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, nullptr, addr) != 0) return 0;
    op.prog = kProg;
    op.vers = 1;
    op.tcpPort = port;
    uint32_t answer = 0;
    if (rpcCreateAuthNull(&op) && rpcPrepareRPCHeader(&op, 1) == 0) {
        InitDataBuffer(&op.request);
        if (CallRPC(&op, 0) != 0 || mbufGetLong(&op.reply.data, &answer) != 0) answer = 0;
    }
    rpcCloseOperation(&op);
    return answer;
}

// Where the endpoint listens, and where it does not. The listening address
// is what a portmapper client reaches: 0 means 127.0.0.1 and 127.0.1.1 alike.
TEST(ServerAt, ListensOnTheAddressGivenAndNowhereElse) {
    struct Case {
        const char* name;
        uint32_t address;
        bool onLoopback;     // 127.0.0.1 takes connections
        bool onHostAddress;  // 127.0.1.1 takes connections
    };
    const Case cases[] = {
        {"any", htonl(INADDR_ANY), true, true},
        {"loopback", htonl(INADDR_LOOPBACK), true, false},
        {"127.0.1.1", dotted("127.0.1.1"), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RpcOperation listening;
        std::memset(&listening, 0xAB, sizeof listening);
        ASSERT_EQ(rpcInitServerOperationAt(&listening, c.address, 0), 0);
        EXPECT_EQ(listening.localAddr.family, AF_INET);
        EXPECT_EQ(listening.localAddr.addr, c.address);
        const uint16_t port = ntohs(listening.localAddr.port);
        ASSERT_NE(port, 0);
        EXPECT_EQ(listening.udpPort, 0);  // the port asked for, as rpcInitServerOperation
        EXPECT_EQ(listening.request.block.pos, nullptr);  // the record was cleared
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        ASSERT_EQ(getsockname(static_cast<int>(listening.sock), reinterpret_cast<sockaddr*>(&bound), &len), 0);
        EXPECT_EQ(bound.sin_addr.s_addr, c.address);
        EXPECT_EQ(bound.sin_port, listening.localAddr.port);

        EXPECT_EQ(connects(htonl(INADDR_LOOPBACK), port), c.onLoopback);
        EXPECT_EQ(connects(dotted("127.0.1.1"), port), c.onHostAddress);

        // The accept loop serves it as any endpoint: a library call to an
        // address it listens on is answered.
        std::thread loop([&] { rpcAcceptIncoming(&listening, answerAndStop); });
        EXPECT_EQ(callOnce(c.onLoopback ? htonl(INADDR_LOOPBACK) : dotted("127.0.1.1"), port), kAnswer);
        loop.join();
        close(static_cast<int>(listening.sock));
    }
}

TEST(ServerAt, AskedPortIsKeptAndFailuresLeaveTheSocketToTheCaller) {
    RpcOperation first;
    ASSERT_EQ(rpcInitServerOperationAt(&first, htonl(INADDR_LOOPBACK), 0), 0);
    const uint16_t port = ntohs(first.localAddr.port);

    // The same port on the same address, and on every interface: bind fails
    // (-4) and the socket made is the caller's to close.
    for (uint32_t address : {htonl(INADDR_LOOPBACK), htonl(INADDR_ANY)}) {
        RpcOperation second;
        EXPECT_EQ(rpcInitServerOperationAt(&second, address, port), -4);
        EXPECT_EQ(second.udpPort, port);
        ASSERT_NE(second.sock, RPC_INVALID_SOCKET);
        close(static_cast<int>(second.sock));
    }
    close(static_cast<int>(first.sock));

    // Once free, the port asked for is the port bound.
    RpcOperation again;
    ASSERT_EQ(rpcInitServerOperationAt(&again, htonl(INADDR_ANY), port), 0);
    EXPECT_EQ(ntohs(again.localAddr.port), port);
    close(static_cast<int>(again.sock));

    // An address that is not this host's (TEST-NET-1, RFC 5737).
    RpcOperation foreign;
    EXPECT_EQ(rpcInitServerOperationAt(&foreign, dotted("192.0.2.1"), 0), -4);
    ASSERT_NE(foreign.sock, RPC_INVALID_SOCKET);
    close(static_cast<int>(foreign.sock));

    EXPECT_EQ(rpcInitServerOperationAt(nullptr, 0, 0), -1);
}

// A host whose name does not resolve: rpcInitServerOperation cannot find
// its address (-3); the extension never asks and starts at once.
TEST(ServerAt, NeedsNoHostNameLookUp) {
    char saved[256] = {};
    ASSERT_EQ(gethostname(saved, sizeof saved - 1), 0);
    const char unresolvable[] = "qelrpc-no-such-host.invalid";
    ASSERT_EQ(sethostname(unresolvable, sizeof unresolvable - 1), 0);  // the namespace's own

    const auto start = std::chrono::steady_clock::now();
    RpcOperation at;
    EXPECT_EQ(rpcInitServerOperationAt(&at, htonl(INADDR_ANY), 0), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));  // no resolver time-outs
    if (at.sock != RPC_INVALID_SOCKET) close(static_cast<int>(at.sock));

    RpcOperation byName;
    EXPECT_EQ(rpcInitServerOperation(&byName, 0), -3);
    if (byName.sock != RPC_INVALID_SOCKET) close(static_cast<int>(byName.sock));

    EXPECT_EQ(sethostname(saved, std::strlen(saved)), 0);
}

}  // namespace
