// SPDX-License-Identifier: MIT
// The Windows build against real peers on the Linux side, over loopback
// (tests/wine/run_suite.sh starts them beside Wine, in namespaces that hold
// only loopback): Debian's rpcbind, the libtirpc null/echo servers, the
// libtirpc PCNFSD and Qelnfsd daemons and the reference daemon (this
// library's server side on Linux); a libtirpc client (rpcinfo), started
// as a Linux process, calling this build's server side; AUTH_DES calls to
// the tests' own AUTH_DES server, registered with rpcbind.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include "des_test_server.h"
#include "fake_peer.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"
#include "wine_paths.h"

namespace {

using namespace testpeer;

// The programs of the libtirpc peers (tests/peers/qelrpc_peer.x) and the
// daemons' user table (tests/pcnfsd/tirpc_daemons.c).
constexpr uint32_t kNullProg = 0x20000F01;
constexpr uint32_t kEchoProg = 0x20000F02;
constexpr uint32_t kPortmapProg = 100000;

bool linuxPeers() {
    const char* v = std::getenv("QELRPC_LINUX_PEERS");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

using peercalls::split;

class LinuxPeers : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        if (!linuxPeers()) QELRPC_SKIP_UNLESS_REQUIRED("needs the Linux-side peers of tests/wine/run_suite.sh");
        ASSERT_EQ(qelrpc::platform::startSockets(), 0);
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, "qelrpc-wine", 1000, 1000), 1);
    }
    void TearDown() override { rpcCloseOperation(&op); }

    int echo(const char* text, std::string& back) { return peercalls::echo(op, text, back); }
    int null() { return peercalls::null(op); }
};

// --- calls and port look-ups -------------------------------------------------

TEST_F(LinuxPeers, NullAndEchoOverTcpAndUdpThroughRpcbind) {
    ASSERT_EQ(GetProgramPort(&op, kNullProg, 1, 0), 0);
    EXPECT_EQ(op.hostAddr, loopbackAddress());
    EXPECT_NE(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, 0);
    EXPECT_EQ(null(), 0);

    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    std::string back;
    ASSERT_EQ(echo("hello over TCP from Windows", back), 0);
    EXPECT_EQ(back, "hello over TCP from Windows");
    const std::string big(8000, 'w');  // several segments each way
    ASSERT_EQ(echo(big.c_str(), back), 0);
    EXPECT_EQ(back, big);

    op.protocol = RPC_PROTOCOL_UDP_ONLY;
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_NE(op.udpPort, 0);
    ASSERT_EQ(echo("hello over UDP from Windows", back), 0);
    EXPECT_EQ(back, "hello over UDP from Windows");
    ASSERT_EQ(GetProgramPort(&op, kNullProg, 1, 0), 0);
    EXPECT_EQ(null(), 0);
}

// The exchange observer (an extension) sees the library's own port look-up
// and the caller's call, each with the bytes that went and came.
struct SeenExchange {
    const RpcOperation* op;
    int transport, status;
    uint32_t callXid, proc, replyXid;
};

void keepExchange(const RpcExchangeView* v, void* context) {
    // Copied, and padded with 0xFF so that a short message reads as no word.
    Bytes call(v->call, v->call + v->callLength), reply;
    if (v->reply != nullptr) reply.assign(v->reply, v->reply + v->replyLength);
    call.resize(std::max<size_t>(call.size(), 24), 0xFF);
    reply.resize(std::max<size_t>(reply.size(), 4), 0xFF);
    static_cast<std::vector<SeenExchange>*>(context)->push_back(
        SeenExchange{v->op, v->transport, v->status, wordAt(call, 0), wordAt(call, 20), wordAt(reply, 0)});
}

TEST_F(LinuxPeers, TheExchangeObserverSeesPortLookUpsAndCalls) {
    std::vector<SeenExchange> seen;
    rpcSetExchangeObserver(keepExchange, &seen);
    const int found = GetProgramPort(&op, kNullProg, 1, 0);
    const int called = found == 0 ? null() : -1;
    rpcSetExchangeObserver(nullptr, nullptr);
    ASSERT_EQ(found, 0);
    ASSERT_EQ(called, 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].op, &op);  // the library's own operation
    EXPECT_EQ(seen[0].proc, 3u);  // PMAPPROC_GETPORT
    EXPECT_EQ(seen[1].op, &op);
    EXPECT_EQ(seen[1].proc, 0u);
    for (const SeenExchange& s : seen) {
        EXPECT_EQ(s.transport, RPC_EXCHANGE_TCP);
        EXPECT_EQ(s.status, 0);
        EXPECT_EQ(s.replyXid, s.callXid);
    }
}

// --- kept connections (rpcSetKeepConnection) ----------------------------------

uint16_t localPortOf(RpcSocket s) {
    Endpoint at;
    return localEndpoint(s, at) == 0 ? at.port : 0;
}

TEST_F(LinuxPeers, AKeptConnectionCarriesEveryCallAndOutlivesPortLookUps) {
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    std::string back;
    ASSERT_EQ(echo("kept 0", back), 0);
    const RpcSocket kept = op.sock;
    ASSERT_NE(kept, RPC_INVALID_SOCKET);
    const uint16_t port = localPortOf(kept);
    ASSERT_NE(port, 0);
    for (int i = 1; i < 10; ++i) {
        SCOPED_TRACE(i);
        const std::string text = "kept " + std::to_string(i);
        ASSERT_EQ(echo(text.c_str(), back), 0);
        EXPECT_EQ(back, text);
        EXPECT_EQ(op.sock, kept);
        EXPECT_EQ(localPortOf(op.sock), port);
    }
    // The look-up asks rpcbind on a connection of its own and finds the same
    // port: the kept connection to the server goes on.
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    EXPECT_EQ(op.sock, kept);
    ASSERT_EQ(echo("after the look-up", back), 0);
    EXPECT_EQ(localPortOf(op.sock), port);

    // UDP: one datagram socket for all the calls.
    op.protocol = RPC_PROTOCOL_UDP_ONLY;
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    ASSERT_EQ(echo("kept over UDP", back), 0);
    const RpcSocket datagram = op.sock;
    const uint16_t udpLocal = localPortOf(datagram);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(echo("again over UDP", back), 0);
        EXPECT_EQ(op.sock, datagram);
        EXPECT_EQ(localPortOf(op.sock), udpLocal);
    }
    rpcCloseOperation(&op);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    Endpoint gone;
    EXPECT_NE(localEndpoint(datagram, gone), 0) << "rpcCloseOperation closed the kept socket";
}

// --- reserved source ports (rpcSetReservedPort) --------------------------------

// Windows lets any program bind ports below 1024: the calls go out from one,
// over TCP and UDP, to the libtirpc server on the Linux side. A kept socket
// shows the port it was bound to.
TEST_F(LinuxPeers, CallsFromAReservedPortOverTcpAndUdp) {
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    std::string back;
    ASSERT_EQ(echo("from a reserved port", back), 0);  // a socket per call
    EXPECT_EQ(back, "from a reserved port");
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(echo("kept, from a reserved port", back), 0);
    const uint16_t tcpLocal = localPortOf(op.sock);
    EXPECT_GE(tcpLocal, 512);
    EXPECT_LE(tcpLocal, 1023);

    op.protocol = RPC_PROTOCOL_UDP_ONLY;
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    ASSERT_EQ(echo("over UDP from a reserved port", back), 0);
    EXPECT_EQ(back, "over UDP from a reserved port");
    const uint16_t udpLocal = localPortOf(op.sock);
    EXPECT_GE(udpLocal, 512);
    EXPECT_LE(udpLocal, 1023);
}

TEST_F(LinuxPeers, RefusalsAndMissingProgramsReachTheCaller) {
    EXPECT_EQ(GetProgramPort(&op, 0x20000FFF, 1, 0), 1208);  // not registered
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 7), 0);  // a procedure the program lacks
    InitDataBuffer(&op.request);
    EXPECT_EQ(CallRPC(&op, 0), -7);
    EXPECT_EQ(op.acceptStat, 3u);
    // A port nothing listens on: the system's refusal, by its Windows number.
    op.tcpPort = 1;
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    InitDataBuffer(&op.request);
    EXPECT_EQ(DoTCPRPCGram(&op), 10061);
}

// A broadcast GETPORT: every portmapper that knows the program answers. The
// runner routes 255.255.255.255 to loopback, so rpcbind here is every host.
int g_answers = 0;
RpcSockAddrIn g_sender{};
int onAnswer(RpcSockAddrIn* sender, RpcOperation*, int) {
    ++g_answers;
    g_sender = *sender;
    return 1;  // one answer is enough
}

TEST_F(LinuxPeers, BroadcastReachesRpcbind) {
    RpcOperation b{};
    ASSERT_EQ(rpcInitOperationEx(&b, nullptr, 0xFFFFFFFFu), 0);
    ASSERT_EQ(rpcCreateAuthNull(&b), 1);
    ASSERT_EQ(rpcPrepareRPCBroadcastHeader(&b, kPortmapProg, 2, 3 /* GETPORT */, 111), 0);
    InitDataBuffer(&b.request);
    for (uint32_t w : {kEchoProg, 1u, 17u, 0u}) ASSERT_EQ(mbufAddLong(&b.request.data, static_cast<int32_t>(w)), 0);
    const RpcTimeValue wait{3, 0};
    EXPECT_NE(rpcBroadcastUDP(&b, onAnswer, &wait, 0), 0);
    EXPECT_EQ(g_answers, 1);
    EXPECT_EQ(g_sender.addr, loopbackAddress());
    rpcCloseOperation(&b);
}

// --- the user services against the libtirpc daemons --------------------------

TEST_F(LinuxPeers, PcnfsdAndQelnfsdAnswerTheNameQuestions) {
    // The self-contained calls: each opens its own operation, looks the
    // daemon up through rpcbind and closes the operation again.
    RpcOperation own{};
    own.hostAddr = loopbackAddress();
    int32_t uids[] = {1002, 4242};
    char names[2 * 256] = {};
    ASSERT_EQ(PerformPcnfsdReqUid(&own, 1, 1, 2, uids, names), 0);
    EXPECT_EQ(split(names, 2), (std::vector<std::string>{"bob", "Nobody"}));
    int32_t gids[] = {1000};
    ASSERT_EQ(PerformPcnfsdReqGid(&own, 1, 1, 1, gids, names), 0);
    EXPECT_STREQ(names, "staff");

    RpcOperation q{};
    q.hostAddr = loopbackAddress();
    int32_t gid = 5;
    ASSERT_EQ(PerformQelnfsdGroupName(&q, 1, 1, "staff", &gid), 0);
    EXPECT_EQ(gid, 1000);
    char qnames[3 * 256] = {};
    int32_t quids[] = {1001, 0, 1002};
    ASSERT_EQ(PerformQelnfsdReqUid(&q, 1, 1, 3, quids, qnames), 0);
    EXPECT_EQ(split(qnames, 3), (std::vector<std::string>{"alice", "root", "bob"}));
}

TEST_F(LinuxPeers, TheReferenceDaemonAnswersOnItsPort) {
    // The library's own server side on Linux (tools/refd), not registered:
    // its port comes from the runner and no look-up is made.
    const char* port = std::getenv("QELRPC_REFD_PORT");
    ASSERT_NE(port, nullptr);
    RpcOperation own{};
    own.hostAddr = loopbackAddress();
    own.prog = 150001;  // PCNFSD version 2
    own.vers = 2;
    own.tcpPort = static_cast<uint16_t>(std::atoi(port));
    int32_t uids[] = {1001, 0, 4242};
    char names[3 * 256] = {};
    ASSERT_EQ(PerformPcnfsdReqUid(&own, 1, 0, 3, uids, names), 0);
    EXPECT_EQ(split(names, 3), (std::vector<std::string>{"alice", "root", "Nobody"}));

    RpcOperation q{};
    q.hostAddr = loopbackAddress();
    q.prog = 0x2F00DBAD;  // Qelnfsd version 1
    q.vers = 1;
    q.tcpPort = own.tcpPort;
    int32_t gid = 5;
    ASSERT_EQ(PerformQelnfsdGroupName(&q, 1, 0, "sudo", &gid), 0);
    EXPECT_EQ(gid, 27);
}

TEST_F(LinuxPeers, NameServiceDispatchAndAuthorisation) {
    NameServiceKind kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    EXPECT_EQ(kind, NameServicePcnfsd);
    int32_t gids[2] = {-1, -1};
    ASSERT_EQ(PerformGetGidsFromGNames(&op, 1, 1, 2, "sudo\0users\0", gids), 0);
    EXPECT_EQ(gids[0], 27);
    EXPECT_EQ(gids[1], 100);

    int32_t uid = -1, gid = -1, groups[8] = {}, count = 8;
    uint32_t flags = 0;
    EXPECT_EQ(PerformAuthorizeUser("alice", "wonderland", "from Wine", loopbackAddress(), 0, "ca", &uid, &gid,
                                   groups, &count, &flags),
              0);
    EXPECT_EQ(uid, 1001);
    EXPECT_EQ(gid, 100);
    count = 8;
    EXPECT_NE(PerformAuthorizeUser("alice", "wrong", "from Wine", loopbackAddress(), 0, "ca", &uid, &gid, groups,
                                   &count, &flags),
              0);
}

// --- the server side answering a libtirpc client ----------------------------

// PMAPPROC_SET (1) or PMAPPROC_UNSET (2) of prog version 1 over TCP at
// rpcbind, through the library's own calls.
bool portmap(uint32_t proc, uint32_t prog, uint16_t port) {
    RpcOperation pm{};
    if (rpcInitOperationEx(&pm, "127.0.0.1", loopbackAddress()) != 0) return false;
    pm.prog = kPortmapProg;
    pm.vers = 2;
    pm.tcpPort = 111;
    bool ok = false;
    if (rpcCreateAuthNull(&pm) && rpcPrepareRPCHeader(&pm, proc) == 0) {
        InitDataBuffer(&pm.request);
        for (uint32_t w : {prog, 1u, 6u, static_cast<uint32_t>(proc == 1 ? port : 0)})
            mbufAddLong(&pm.request.data, static_cast<int32_t>(w));
        uint32_t result = 0;
        ok = CallRPC(&pm, 0) == 0 && mbufGetLong(&pm.reply.data, &result) == 0 && result != 0;
    }
    rpcCloseOperation(&pm);
    return ok;
}


// A program no peer registers: rpcinfo can only have its answer from here.
constexpr uint32_t kServedProg = 0x20000F7E;

int g_calls = 0;
int answerNull(RpcOperation* op, RpcSocket connection, uint32_t xid) {
    ++g_calls;
    if (op->prog == kServedProg && op->proc == 0 && rpcCreateReplyHeader(op, xid, 0, nullptr) == 0) {
        ReplyRPC(op, connection);
    }
    return 0;  // one call is the whole test: stop serving
}

// Runs a Linux command line through /bin/sh (Wine starts Unix programs
// itself) and returns what it printed and its exit status, or "" when it
// did not finish within 20 seconds.
std::string runLinux(const std::string& command) {
    char tmp[MAX_PATH];
    std::snprintf(tmp, sizeof tmp, "/tmp/qelrpc-wine-%lu-%lu.out", GetCurrentProcessId(), GetTickCount());
    const std::string line = "/bin/sh -c \"" + command + " >" + tmp + " 2>&1; echo exit=$? >>" + tmp + "\"";
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return "";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const std::string winPath = windowsPath(tmp);
    for (int i = 0; i < 400; ++i) {
        std::ifstream f(winPath);
        std::stringstream all;
        all << f.rdbuf();
        if (all.str().find("exit=") != std::string::npos) {
            f.close();
            DeleteFileA(winPath.c_str());
            return all.str();
        }
        Sleep(50);
    }
    return "";
}

// Ends a server loop that is still waiting: one null call whose handler
// answers 0.
void stopServing(uint16_t port) {
    RpcOperation stop{};
    rpcInitOperationEx(&stop, "127.0.0.1", loopbackAddress());
    rpcCreateAuthNull(&stop);
    stop.prog = kServedProg;
    stop.vers = 1;
    stop.tcpPort = port;
    rpcPrepareRPCHeader(&stop, 0);
    InitDataBuffer(&stop.request);
    CallRPC(&stop, 0);
    rpcCloseOperation(&stop);
}

TEST_F(LinuxPeers, ServerSideAnswersRpcinfo) {
    const char* rpcinfo = std::getenv("QELRPC_RPCINFO");
    ASSERT_NE(rpcinfo, nullptr);
    RpcOperation listening{};
    ASSERT_EQ(rpcInitServerOperation(&listening, 0), 0);
    EXPECT_EQ(listening.localAddr.addr, loopbackAddress());  // the host's address: loopback only here
    const uint16_t port = ntohs(listening.localAddr.port);
    std::atomic<int> loop{99};
    std::thread server([&] { loop = rpcAcceptIncoming(&listening, answerNull); });
    // Registered with rpcbind, as a Windows server of the suite would be;
    // rpcinfo finds it there.
    const bool registered = portmap(1, kServedProg, port);
    EXPECT_TRUE(registered);
    const std::string out = runLinux(std::string(rpcinfo) + " -t 127.0.0.1 " + std::to_string(kServedProg) + " 1");
    for (int i = 0; i < 100 && loop == 99; ++i) Sleep(50);
    const bool stoppedByItself = loop != 99;
    if (!stoppedByItself) stopServing(port);
    server.join();
    if (registered) {
        EXPECT_TRUE(portmap(2, kServedProg, 0));
    }
    qelrpc::platform::Socket own(static_cast<qelrpc::platform::NativeSocket>(listening.sock));
    EXPECT_NE(out.find("ready and waiting"), std::string::npos) << out;
    EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
    EXPECT_TRUE(stoppedByItself) << "the handler's 0 did not end the loop";
    EXPECT_EQ(g_calls, stoppedByItself ? 1 : 2);
    EXPECT_EQ(loop, 0);
}

// --- AUTH_DES -----------------------------------------------------------------

constexpr uint32_t kDesProg = 0x20000A5D;
constexpr uint16_t kTimePort = 37;
constexpr uint32_t kRfc868Epoch = 2208988800u;
constexpr const char* kClientSecret = "3a5f0c21b9e8d7c6a5b4c3d2e1f00112233445566778899a";
constexpr const char* kServerSecret = "0badc0ffee0ddf00d1234567890abcdef1234567890abcd";
constexpr const char* kNetName = "unix.1001@example.co";

TEST_F(LinuxPeers, AuthDesCallsThroughAPortLookUp) {
    destest::startGcrypt();
    constexpr int32_t kServerClock = 3600;  // the server runs an hour ahead
    destest::Server des(kServerSecret, kServerClock);
    des.addClient(kNetName, destest::publicKey(kClientSecret));
    TcpPeer service([&des](int, Conn& c) {
        Bytes call;
        while (c.readRecord(call)) c.sendFragment(des.answer(call), true);
    });
    TcpPeer timeService(
        [](int, Conn& c) {
            c.send(words({static_cast<uint32_t>(std::time(nullptr)) + kServerClock + kRfc868Epoch}));
        },
        Endpoint{loopbackAddress(), kTimePort});
    ASSERT_TRUE(service.ok() && timeService.ok());
    ASSERT_TRUE(portmap(1, kDesProg, service.port())) << "rpcbind refused the registration";

    RpcOperation d{};
    ASSERT_EQ(rpcInitOperationEx(&d, "127.0.0.1", loopbackAddress()), 0);
    const std::string serverPublic = destest::publicKey(kServerSecret);
    ASSERT_EQ(rpcCreateAuthDES(&d, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(GetProgramPort(&d, kDesProg, 1, 0), 0);
    EXPECT_EQ(d.tcpPort, service.port());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rpcPrepareRPCHeader(&d, 1), 0);
        InitDataBuffer(&d.request);
        ASSERT_EQ(CallRPC(&d, 0), 0);
        uint32_t result = 0;
        ASSERT_EQ(mbufGetLong(&d.reply.data, &result), 0);
        EXPECT_EQ(result, 0x5EC0DEu);
    }
    rpcCloseOperation(&d);
    EXPECT_TRUE(portmap(2, kDesProg, 0));

    // Full name first, then nicknames; every timestamp on the server's clock.
    const auto seen = des.seen();
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].authStat, 0u);
        EXPECT_EQ(seen[i].kind, i == 0 ? 0u : 1u);
        EXPECT_NEAR(static_cast<double>(seen[i].seconds), std::time(nullptr) + 3600.0, 3);
    }
    EXPECT_EQ(seen[0].netName, kNetName);
}

// Scripted peers inside the Windows process: a server that closes each
// connection after one answer, then one that takes a call and drops it.
TEST(KeptScripted, AClosedConnectionIsReplacedAndAFailureUnderWayIsNotResent) {
    ASSERT_EQ(startSockets(), 0);
    std::atomic<int> calls{0};
    TcpPeer peer([&calls](int n, Conn& c) {
        Bytes call;
        if (!c.readRecord(call) || call.size() < 4) return;
        ++calls;
        c.sendFragment(successReply(wordAt(call, 0)), true);
        if (n >= 2 && c.readRecord(call)) ++calls;  // taken, never answered
    });
    ASSERT_TRUE(peer.ok());
    RpcOperation op{};
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopbackAddress()), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    op.prog = kNullProg;
    op.vers = 1;
    op.tcpPort = peer.port();
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(peercalls::null(op), 0);
    // Until the server's FIN is there: the next call finds it before sending.
    unsigned ready = 0;
    for (int i = 0; i < 500 && ready == 0; ++i) waitFor(op.sock, kReadable, 10'000, ready);
    EXPECT_NE(ready, 0u);
    EXPECT_EQ(peercalls::null(op), 0);
    EXPECT_EQ(peer.accepted(), 2);
    // The second connection takes the next call and closes: reported, not resent.
    EXPECT_EQ(peercalls::null(op), 10101);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    Sleep(200);
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(peer.accepted(), 2);
    rpcCloseOperation(&op);
}

}  // namespace
