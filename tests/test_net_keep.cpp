// SPDX-License-Identifier: MIT
// Kept client connections (rpcSetKeepConnection), through the exported
// interface only: this file is also built against the shared library
// (QELRPC_SHARED_LIBRARY_TESTS). The real peer is a libtirpc server from
// tests/peers; the scripted peers below, on plain POSIX sockets, count
// connections and requests and close where a real server would not. Each
// test runs in a network namespace of its own (tests/in_netns.sh), so the
// kernel's table of TCP sockets, /proc/net/tcp, holds only the test's own
// connections and shows how many the client made.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"

namespace {

constexpr uint32_t kNullProg = 0x20000F01;
constexpr uint32_t kEchoProg = 0x20000F02;
constexpr int kDisconnected = 10101;  // WSAEDISCON: the server closed before the reply was complete
constexpr int kCancelled = -2;

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

bool fdOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

uint16_t localPort(RpcSocket s) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sin), &len) != 0) return 0;
    return ntohs(sin.sin_port);
}

// The namespace's TCP sockets whose remote port is `port`, by state
// (/proc/net/tcp: "01" established, "06" TIME_WAIT, ...): the client's side
// of every connection it made to that server, open or recently closed.
std::vector<std::string> clientSocketStates(uint16_t port) {
    std::vector<std::string> states;
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        const auto colon = remote.find(':');
        if (colon == std::string::npos) continue;
        if (std::strtoul(remote.c_str() + colon + 1, nullptr, 16) == port) states.push_back(state);
    }
    return states;
}

std::string peerProgram() {
    if (const char* p = std::getenv("QELRPC_PEER")) return p;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    return (std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path() / "peers" / "qelrpc_peer")
        .string();
}

// ---------------------------------------------------------------------------
// A scripted TCP server on 127.0.0.1: accepts one connection after the
// other on its own thread and runs script(n, conn) on the n-th (1-based);
// the connection closes when the script returns. Counts accepts and the
// call records read. Every wait is bounded; the destructor joins.
class ScriptedTcp {
  public:
    struct Conn {
        int fd;
        ScriptedTcp& peer;
        // One record (all its fragments); false when the client closed or
        // nothing came within 10 seconds.
        bool readCall(std::vector<uint8_t>& call) {
            call.clear();
            for (int frags = 0; frags < 1024; ++frags) {
                uint8_t mark[4];
                if (!readExactly(mark, 4)) return false;
                const uint32_t m = word(mark);
                const size_t at = call.size();
                call.resize(at + (m & 0x7FFFFFFFu));
                if (!readExactly(call.data() + at, m & 0x7FFFFFFFu)) return false;
                if (m & 0x80000000u) {
                    ++peer.calls;
                    return call.size() >= 4;
                }
            }
            return false;
        }
        // A SUCCESS reply to `xid` with no results, as one record.
        void reply(uint32_t xid) {
            const uint32_t w[7] = {0x80000000u | 24u, xid, 1, 0, 0, 0, 0};
            uint8_t b[28];
            for (int i = 0; i < 7; ++i) store(b + 4 * i, w[i]);
            size_t done = 0;
            while (done < sizeof b) {
                const ssize_t n = send(fd, b + done, sizeof b - done, MSG_NOSIGNAL);
                if (n <= 0) return;
                done += static_cast<size_t>(n);
            }
        }
        // SUCCESS replies to each of `xids` back to back in one send, so
        // they arrive together.
        void replies(std::initializer_list<uint32_t> xids) {
            std::vector<uint8_t> b;
            for (uint32_t xid : xids) {
                const uint32_t w[7] = {0x80000000u | 24u, xid, 1, 0, 0, 0, 0};
                for (uint32_t v : w)
                    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
            }
            send(fd, b.data(), b.size(), MSG_NOSIGNAL);
        }
        // Waits (at most 10 seconds) until the client closes its side; true
        // when it did.
        bool clientCloses() {
            for (int i = 0; i < 1000 && !peer.stop; ++i) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 10) <= 0) continue;
                uint8_t c;
                if (recv(fd, &c, 1, 0) <= 0) return true;
            }
            return false;
        }
        bool readExactly(uint8_t* to, size_t n) {
            size_t have = 0;
            for (int i = 0; have < n && i < 1000 && !peer.stop; ++i) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 10) <= 0) continue;
                const ssize_t got = recv(fd, to + have, n - have, 0);
                if (got <= 0) return false;
                have += static_cast<size_t>(got);
            }
            return have == n;
        }
    };
    using Script = std::function<void(int n, Conn& conn)>;

    explicit ScriptedTcp(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = loopback();
        socklen_t len = sizeof sin;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
            listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
            return;
        port_ = ntohs(sin.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedTcp() {
        stop = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    uint16_t port() const { return port_; }

    static uint32_t word(const uint8_t* p) {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    static void store(uint8_t* p, uint32_t w) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(w >> (24 - 8 * i));
    }

    std::atomic<int> accepted{0};
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};

  private:
    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!stop && std::chrono::steady_clock::now() < end) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            const int c = accept(listener_, nullptr, nullptr);
            if (c < 0) continue;
            Conn conn{c, *this};
            script_(++accepted, conn);
            close(c);
        }
    }
    Script script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// Answers every call of the connection until the client closes.
void answerAll(int, ScriptedTcp::Conn& c) {
    std::vector<uint8_t> call;
    while (c.readCall(call)) c.reply(ScriptedTcp::word(call.data()));
}

// ---------------------------------------------------------------------------
// An operation on 127.0.0.1 with AUTH_NULL, for the scripted and real peers.
class Kept : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopback()), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.prog = kNullProg;
        op.vers = 1;
    }
    void TearDown() override { rpcCloseOperation(&op); }
    int null() { return peercalls::null(op); }
};

TEST_F(Kept, TheSwitchOwnsSockOnlyWhileOnAndClosesWhatItKept) {
    EXPECT_EQ(rpcSetKeepConnection(nullptr, 1), 1208);
    EXPECT_EQ(rpcSetKeepConnection(nullptr, 0), 1208);
    // A cleared record holds socket 0 (standard input): enabling forgets
    // it, never closes it.
    ASSERT_EQ(op.sock, 0u);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    EXPECT_EQ(op.flags & RPC_OP_FLAG_KEEP_CONNECTION, RPC_OP_FLAG_KEEP_CONNECTION);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    EXPECT_TRUE(fdOpen(0));
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);  // again: nothing changes
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);

    ScriptedTcp peer(answerAll);
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(null(), 0);
    const int kept = static_cast<int>(op.sock);
    ASSERT_TRUE(fdOpen(kept));
    ASSERT_EQ(rpcSetKeepConnection(&op, 0), 0);
    EXPECT_FALSE(fdOpen(kept)) << "disabling closes the kept socket";
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    EXPECT_EQ(op.flags & RPC_OP_FLAG_KEEP_CONNECTION, 0u);
    // Off, the socket stays the caller's (a broadcast socket, say): nothing
    // is closed, as before the extension.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    op.sock = static_cast<RpcSocket>(p[0]);
    ASSERT_EQ(rpcSetKeepConnection(&op, 0), 0);
    rpcCloseOperation(&op);
    EXPECT_TRUE(fdOpen(p[0]));
    EXPECT_EQ(op.sock, static_cast<RpcSocket>(p[0]));
    close(p[0]);
    close(p[1]);
}

TEST_F(Kept, InitClosesNothingWhateverFlagsAndSockHold) {
    // A record its caller filled may hold anything in flags and sock: init
    // clears the flags (keep off) and leaves the descriptor alone.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    rpcCloseOperation(&op);
    op.flags = 0xFFFFFFFFu;
    op.sock = static_cast<RpcSocket>(p[0]);
    ASSERT_EQ(rpcInitOperation(&op), 0);
    EXPECT_EQ(op.flags, 0u);
    EXPECT_TRUE(fdOpen(p[0]));
    EXPECT_EQ(op.sock, static_cast<RpcSocket>(p[0]));
    close(p[0]);
    close(p[1]);
}

TEST_F(Kept, APeerThatClosesBetweenCallsIsReplacedOnceBeforeTheNextSend) {
    // One call a connection, then the server closes it (as an idle timeout
    // would): each later call finds the FIN before sending and reconnects.
    ScriptedTcp peer([](int, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> call;
        if (c.readCall(call)) c.reply(ScriptedTcp::word(call.data()));
    });
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(null(), 0);
        ASSERT_NE(op.sock, RPC_INVALID_SOCKET);
        EXPECT_EQ(peer.accepted.load(), i);
        EXPECT_EQ(peer.calls.load(), i) << "every call sent once";
        // Until the server's FIN has arrived.
        for (int w = 0; w < 500; ++w) {
            pollfd pf{static_cast<int>(op.sock), POLLIN, 0};
            if (poll(&pf, 1, 10) == 1) break;
        }
    }
}

TEST_F(Kept, StaleBytesOnTheConnectionMeanANewOne) {
    // The server answers the first call, then sends a record nobody asked
    // for and keeps the connection open: the next call must not take those
    // bytes for its reply, nor send behind them.
    ScriptedTcp peer([](int n, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> call;
        if (n == 1) {
            if (!c.readCall(call)) return;
            c.reply(ScriptedTcp::word(call.data()));
            c.reply(0x5757);
            c.clientCloses();
            return;
        }
        answerAll(n, c);
    });
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    for (int w = 0; w < 500; ++w) {  // until the unasked record is there
        pollfd pf{static_cast<int>(op.sock), POLLIN, 0};
        if (poll(&pf, 1, 10) == 1) break;
    }
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(peer.accepted.load(), 2);
    EXPECT_EQ(peer.calls.load(), 2);
}

TEST_F(Kept, AFailureInTheMiddleIsReportedAndTheCallIsNotSentAgain) {
    // The server takes the call and closes without answering: the client
    // cannot know whether it ran, so it reports and does not resend.
    ScriptedTcp peer([](int n, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> call;
        if (n == 1) {  // the first call of the first connection is answered
            if (c.readCall(call)) c.reply(ScriptedTcp::word(call.data()));
        }
        c.readCall(call);  // then one is taken and dropped with the connection
    });
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(null(), kDisconnected);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET) << "the failed connection is closed";
    EXPECT_NE(op.flags & RPC_OP_FLAG_KEEP_CONNECTION, 0u) << "the caller's choice stays";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(peer.accepted.load(), 1);
    EXPECT_EQ(peer.calls.load(), 2);
    // The next call makes a new connection (which this server drops too).
    EXPECT_EQ(null(), kDisconnected);
    EXPECT_EQ(peer.accepted.load(), 2);
    EXPECT_EQ(peer.calls.load(), 3);
}

TEST_F(Kept, AnotherPortOrCloseOperationClosesTheKeptConnection) {
    std::atomic<int> closedByClient{0};
    auto script = [&closedByClient](int, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> call;
        if (!c.readCall(call)) return;
        c.reply(ScriptedTcp::word(call.data()));
        if (c.clientCloses()) ++closedByClient;
    };
    ScriptedTcp a(script), b(script);
    ASSERT_NE(a.port(), 0);
    ASSERT_NE(b.port(), 0);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    op.tcpPort = a.port();
    ASSERT_EQ(null(), 0);
    op.tcpPort = b.port();
    ASSERT_EQ(null(), 0);
    // The connection to a was closed when the port changed.
    for (int w = 0; w < 500 && closedByClient.load() < 1; ++w) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(closedByClient.load(), 1);
    op.tcpPort = a.port();
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(a.accepted.load(), 2) << "back to a: a new connection";
    EXPECT_EQ(b.accepted.load(), 1);

    rpcCloseOperation(&op);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    EXPECT_EQ(op.flags & RPC_OP_FLAG_KEEP_CONNECTION, 0u);
    for (int w = 0; w < 500 && closedByClient.load() < 3; ++w) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(closedByClient.load(), 3) << "b when the port changed back, a at rpcCloseOperation";
    ASSERT_EQ(rpcInitOperation(&op), 0);  // TearDown closes it again
}

TEST_F(Kept, ALateDuplicateReplyOnTheKeptConnectionIsSkippedByXid) {
    // The server answers the first call twice, the second copy only after
    // the client's next call has gone out (so no check before sending can
    // see it): the second call takes its own reply, not the copy.
    ScriptedTcp peer([](int, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> first, second;
        if (!c.readCall(first)) return;
        c.reply(ScriptedTcp::word(first.data()));
        if (!c.readCall(second)) return;
        c.reply(ScriptedTcp::word(first.data()));
        c.reply(ScriptedTcp::word(second.data()));
        answerAll(0, c);
    });
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    const uint32_t secondXid = [&] {
        EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        InitDataBuffer(&op.request);
        EXPECT_EQ(CallRPC(&op, 0), 0);
        return ScriptedTcp::word(op.reply.block.pos);
    }();
    EXPECT_EQ(secondXid, ScriptedTcp::word(op.request.block.pos + 4));
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(peer.accepted.load(), 1);
}

TEST_F(Kept, RecordsThatArriveWithTheReplyAreNeverTakenForALaterOne) {
    // The reply may come off the socket in one read with what follows it.
    // Connection 1: the reply and an unasked record behind it in one send;
    // the call has its reply, and the record is never the next call's
    // (that call goes on a new connection). Connection 2: an earlier call's
    // answer and this call's reply in one send; the answer is skipped and
    // the connection kept.
    std::atomic<uint32_t> strayXid{0};
    ScriptedTcp peer([&](int n, ScriptedTcp::Conn& c) {
        std::vector<uint8_t> call;
        if (n == 1) {
            if (!c.readCall(call)) return;
            strayXid = ScriptedTcp::word(call.data()) + 1;  // what the next call's xid will be
            c.replies({ScriptedTcp::word(call.data()), strayXid});
            c.clientCloses();
            return;
        }
        std::vector<uint8_t> first;
        if (!c.readCall(first)) return;
        c.reply(ScriptedTcp::word(first.data()));
        if (!c.readCall(call)) return;
        c.replies({ScriptedTcp::word(first.data()), ScriptedTcp::word(call.data())});
        answerAll(n, c);
    });
    ASSERT_NE(peer.port(), 0);
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    // A reply carrying this call's xid, and the socket the operation keeps.
    auto call = [&](uint32_t& xid) {
        EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        xid = ScriptedTcp::word(op.request.block.pos + 4);
        InitDataBuffer(&op.request);
        const int rc = CallRPC(&op, 0);
        EXPECT_EQ(ScriptedTcp::word(op.reply.block.pos), xid);
        return rc;
    };
    uint32_t xid = 0;
    ASSERT_EQ(call(xid), 0);
    ASSERT_EQ(call(xid), 0);
    EXPECT_EQ(xid, strayXid.load()) << "the stray record carried this very xid";
    EXPECT_EQ(peer.accepted.load(), 2);
    EXPECT_EQ(peer.calls.load(), 2) << "each call sent once";
    const RpcSocket second = op.sock;
    ASSERT_NE(second, RPC_INVALID_SOCKET);
    ASSERT_EQ(call(xid), 0);
    EXPECT_EQ(op.sock, second);
    ASSERT_EQ(call(xid), 0);
    EXPECT_EQ(op.sock, second);
    EXPECT_EQ(peer.accepted.load(), 2) << "connection 2 kept past the skipped answer";
    EXPECT_EQ(peer.calls.load(), 4);
}

// A listener whose accept queue is full: a connect to it stays pending.
struct BlackHole {
    int listener = -1;
    std::vector<int> fillers;
    uint16_t port = 0;
    BlackHole() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = loopback();
        socklen_t len = sizeof sin;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
            listen(listener, 0) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&sin), &len) != 0)
            return;
        for (int i = 0; i < 16; ++i) {
            const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (c < 0) return;
            fillers.push_back(c);
            connect(c, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
            pollfd p{c, POLLOUT, 0};
            if (poll(&p, 1, 200) == 0) {  // this one hangs: the queue is full
                port = ntohs(sin.sin_port);
                return;
            }
        }
    }
    ~BlackHole() {
        for (int c : fillers) close(c);
        if (listener >= 0) close(listener);
    }
};

TEST_F(Kept, TheCancellableConnectGuardsEveryNewConnectionAndOnlyThose) {
    ScriptedTcp peer(answerAll);
    BlackHole hole;
    ASSERT_NE(peer.port(), 0);
    ASSERT_NE(hole.port, 0);
    op.tcpPort = peer.port();
    int cancel = 0;
    rpcSetAsyncOperation(&op, 1, nullptr, &cancel);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    // A raised flag abandons connects: the kept connection needs none.
    cancel = 1;
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(peer.accepted.load(), 1);
    // Another port needs a new connection; it hangs and is abandoned.
    op.tcpPort = hole.port;
    EXPECT_EQ(null(), kCancelled);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
}

// ---------------------------------------------------------------------------
// The libtirpc peer (tests/peers), unregistered: no portmapper needed.
class KeptRealPeer : public Kept {
  protected:
    testproc::Child child;
    uint16_t tcpPort = 0, udpPort = 0;
    void SetUp() override {
        Kept::SetUp();
        if (!std::filesystem::exists(peerProgram()))
            QELRPC_SKIP_UNLESS_REQUIRED("test peer not built: " + peerProgram() + " (needs rpcgen and libtirpc-dev)");
        std::string line;
        unsigned tcp = 0, udp = 0;
        if (!child.start({peerProgram(), "noreg"}) || !child.readLine(line, std::chrono::seconds(10)) ||
            std::sscanf(line.c_str(), "ready tcp=%u udp=%u", &tcp, &udp) != 2)
            QELRPC_SKIP_UNLESS_REQUIRED("the libtirpc test peer did not start");
        tcpPort = static_cast<uint16_t>(tcp);
        udpPort = static_cast<uint16_t>(udp);
    }
};

TEST_F(KeptRealPeer, ManyTcpCallsOnOneConnection) {
    constexpr int kCalls = 20;
    op.tcpPort = tcpPort;
    // Without the extension: one connection a call, each left behind in
    // TIME_WAIT or closing by the client that closed it.
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(null(), 0);
    EXPECT_EQ(clientSocketStates(tcpPort).size(), static_cast<size_t>(kCalls));

    op.prog = kEchoProg;
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    const size_t before = clientSocketStates(tcpPort).size();
    uint16_t port = 0;
    for (int i = 0; i < kCalls; ++i) {
        SCOPED_TRACE(i);
        std::string back;
        const std::string text = "call " + std::to_string(i);
        ASSERT_EQ(peercalls::echo(op, text.c_str(), back), 0);
        EXPECT_EQ(back, text);
        ASSERT_NE(op.sock, RPC_INVALID_SOCKET);
        if (i == 0) port = localPort(op.sock);
        EXPECT_EQ(localPort(op.sock), port) << "the same connection";
    }
    const std::vector<std::string> states = clientSocketStates(tcpPort);
    EXPECT_EQ(states.size(), before + 1) << "one more connection for all the kept calls";
    EXPECT_EQ(std::count(states.begin(), states.end(), "01"), 1) << "and it is still established";

    // A larger call and reply on the same connection.
    const std::string big(12000, 'k');
    std::string back;
    ASSERT_EQ(peercalls::echo(op, big.c_str(), back), 0);
    EXPECT_EQ(back, big);
    EXPECT_EQ(localPort(op.sock), port);
}

TEST_F(KeptRealPeer, UdpCallsReuseOneSocketAndTcpAfterUdpReplacesIt) {
    op.udpPort = udpPort;
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    const RpcSocket first = op.sock;
    ASSERT_NE(first, RPC_INVALID_SOCKET);
    const uint16_t port = localPort(first);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(null(), 0);
        EXPECT_EQ(op.sock, first);
        EXPECT_EQ(localPort(op.sock), port);
    }
    // The kept socket is a datagram socket: a TCP call makes its own
    // connection and keeps that instead.
    op.tcpPort = tcpPort;
    ASSERT_EQ(null(), 0);
    int type = 0;
    socklen_t len = sizeof type;
    ASSERT_EQ(getsockopt(static_cast<int>(op.sock), SOL_SOCKET, SO_TYPE, &type, &len), 0);
    EXPECT_EQ(type, SOCK_STREAM);
    EXPECT_EQ(clientSocketStates(tcpPort).size(), 1u);
}

TEST_F(KeptRealPeer, ASocketNumberTheOperationDidNotMakeIsNeverUsedForItsCalls) {
    // The kept socket is the operation's; a caller that closes it behind
    // its back lets the system give the number out again. Here it goes to
    // another operation's kept connection (to the libtirpc peer, which
    // serves connections side by side): the first operation must send
    // nothing there and close nothing of the other's, whether it calls its
    // own server or the other's. A number put into sock by the caller is
    // not used either.
    ScriptedTcp a(answerAll);
    ASSERT_NE(a.port(), 0);
    op.tcpPort = a.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(null(), 0);
    const int number = static_cast<int>(op.sock);
    ASSERT_EQ(close(number), 0);  // behind the operation's back

    RpcOperation other{};
    ASSERT_EQ(rpcInitOperationEx(&other, nullptr, loopback()), 0);
    ASSERT_EQ(rpcCreateAuthNull(&other), 1);
    other.prog = kNullProg;
    other.vers = 1;
    other.tcpPort = tcpPort;
    ASSERT_EQ(rpcSetKeepConnection(&other, 1), 0);
    ASSERT_EQ(peercalls::null(other), 0);
    ASSERT_EQ(static_cast<int>(other.sock), number) << "the system gave the number out again";
    const uint16_t otherPort = localPort(other.sock);

    struct Case {
        const char* what;
        uint16_t port;  // of the first operation's server
    };
    const Case cases[] = {{"its own server", a.port()}, {"the other's server", tcpPort}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        op.sock = static_cast<RpcSocket>(number);
        op.tcpPort = c.port;
        const int aAccepted = a.accepted.load();
        const size_t toPeer = clientSocketStates(tcpPort).size();
        ASSERT_EQ(null(), 0);
        EXPECT_NE(static_cast<int>(op.sock), number) << "a connection of its own";
        if (c.port == tcpPort) EXPECT_EQ(clientSocketStates(tcpPort).size(), toPeer + 1);
        else EXPECT_EQ(a.accepted.load(), aAccepted + 1);
        EXPECT_TRUE(fdOpen(number)) << "the other's socket is not closed";
        // The other operation still uses its connection.
        ASSERT_EQ(peercalls::null(other), 0);
        EXPECT_EQ(static_cast<int>(other.sock), number);
        EXPECT_EQ(localPort(other.sock), otherPort);
        rpcSetKeepConnection(&op, 0);
        rpcSetKeepConnection(&op, 1);
    }

    // A descriptor the caller made, put into sock: not used (it is the
    // operation's from then on, as any kept socket), a new connection
    // carries the call.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(fcntl(p[0], F_SETFL, O_NONBLOCK), 0);
    op.sock = static_cast<RpcSocket>(p[1]);
    op.tcpPort = a.port();
    const int aAccepted = a.accepted.load();
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(a.accepted.load(), aAccepted + 1);
    char c;
    EXPECT_LE(read(p[0], &c, 1), 0) << "nothing written into the pipe";
    close(p[0]);
    rpcCloseOperation(&other);
}

TEST_F(KeptRealPeer, OperationsOnSeveralThreadsKeepAConnectionEach) {
    // What the library remembers of kept sockets is shared by all
    // operations: threads calling at once, each on its own operation, keep
    // one connection each, over TCP and UDP alike.
    constexpr int kThreads = 4, kCalls = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            RpcOperation mine{};
            if (rpcInitOperationEx(&mine, nullptr, loopback()) != 0 || rpcCreateAuthNull(&mine) != 1) {
                ++failures;
                return;
            }
            mine.prog = kNullProg;
            mine.vers = 1;
            if (t % 2 == 0) mine.tcpPort = tcpPort;
            else mine.udpPort = udpPort;
            rpcSetKeepConnection(&mine, 1);
            RpcSocket first = RPC_INVALID_SOCKET;
            for (int i = 0; i < kCalls; ++i) {
                if (peercalls::null(mine) != 0) ++failures;
                if (i == 0) first = mine.sock;
                if (mine.sock != first || first == RPC_INVALID_SOCKET) ++failures;
            }
            rpcCloseOperation(&mine);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(clientSocketStates(tcpPort).size(), static_cast<size_t>(kThreads / 2)) << "one connection per TCP thread";
}

// A UDP server that answers the first call twice, the copy late, behind the
// client's second call: the kept socket receives it there, and drops it by
// its xid.
TEST_F(Kept, AStaleDatagramOnTheKeptUdpSocketIsDropped) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = loopback();
    socklen_t len = sizeof sin;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len), 0);
    std::atomic<int> received{0};
    std::atomic<bool> stop{false};
    std::thread server([&] {
        uint8_t first[24] = {};
        for (int i = 0; i < 3000 && !stop; ++i) {
            pollfd p{s, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[2048];
            sockaddr_in from{};
            socklen_t fl = sizeof from;
            const ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n < 4) continue;
            const int k = ++received;
            uint8_t reply[24];
            const uint32_t w[6] = {ScriptedTcp::word(buf), 1, 0, 0, 0, 0};
            for (int j = 0; j < 6; ++j) ScriptedTcp::store(reply + 4 * j, w[j]);
            if (k == 1) std::copy(reply, reply + 24, first);
            if (k == 2) sendto(s, first, 24, 0, reinterpret_cast<sockaddr*>(&from), fl);
            sendto(s, reply, 24, 0, reinterpret_cast<sockaddr*>(&from), fl);
        }
    });
    op.udpPort = ntohs(sin.sin_port);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    EXPECT_EQ(null(), 0);
    const RpcSocket kept = op.sock;
    EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    const uint32_t xid = ScriptedTcp::word(op.request.block.pos + 4);
    InitDataBuffer(&op.request);
    EXPECT_EQ(CallRPC(&op, 0), 0);
    EXPECT_EQ(ScriptedTcp::word(op.reply.block.pos), xid);
    EXPECT_EQ(op.sock, kept);
    EXPECT_EQ(received.load(), 2) << "each call sent once";
    stop = true;
    server.join();
    close(s);
}

}  // namespace
