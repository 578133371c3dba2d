// SPDX-License-Identifier: MIT
// Whole client calls against real peers: Debian's rpcbind as the
// portmapper and libtirpc servers built from tests/peers/qelrpc_peer.x, all
// in this test's own network namespace (tests/in_netns.sh), so port 111 is
// the test's own. A scripted portmapper on port 111 produces the answers and
// failures rpcbind does not.
#include <gtest/gtest.h>

// rpcbind, the libtirpc peers and namespaces exist on the POSIX side only.
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "fake_peer.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "port_probe.h"
#include "qelrpc.h"
#include "rpc/exchange_limits.h"

namespace {

using namespace testpeer;
namespace ex = qelrpc::exchange;

constexpr uint32_t kNullProg = 0x20000F01;
constexpr uint32_t kEchoProg = 0x20000F02;
constexpr uint32_t kUdpOnlyOffset = 0x100;
constexpr uint16_t kPortmapPort = 111;

std::string peerProgram() {
    if (const char* p = std::getenv("QELRPC_PEER")) return p;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    return (std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path() / "peers" / "qelrpc_peer")
        .string();
}

struct PeerPorts {
    uint16_t tcp = 0, udp = 0;
};

bool startPeer(testproc::Child& child, const std::vector<std::string>& args, PeerPorts& ports) {
    std::vector<std::string> argv{peerProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!child.start(argv)) return false;
    std::string line;
    if (!child.readLine(line, std::chrono::seconds(10))) return false;
    unsigned tcp = 0, udp = 0;
    if (std::sscanf(line.c_str(), "ready tcp=%u udp=%u", &tcp, &udp) != 2) return false;
    ports.tcp = static_cast<uint16_t>(tcp);
    ports.udp = static_cast<uint16_t>(udp);
    return true;
}

// rpcbind and two peers for the whole suite. rpcbind keeps its lock file and
// local socket under /run, which the namespace shares with the host, so it
// gets a private /run of its own: a host's rpcbind is never disturbed.
class RealPeers : public ::testing::Test {
  protected:
    static inline testproc::Child* rpcbind = nullptr;
    static inline testproc::Child* peer = nullptr;
    static inline testproc::Child* udpOnlyPeer = nullptr;
    static inline PeerPorts ports, udpOnlyPorts;
    static inline std::string setupError;

    static void SetUpTestSuite() {
        if (!std::filesystem::exists(peerProgram())) {
            setupError = "test peer not built: " + peerProgram() + " (needs rpcgen and libtirpc-dev)";
            return;
        }
        if (!portprobe::answers(kPortmapPort)) {
            if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
                setupError = std::string("cannot make a private /run: ") + std::strerror(errno);
                return;
            }
            rpcbind = new testproc::Child;
            if (!rpcbind->start({"/usr/sbin/rpcbind", "-f"}) || !portprobe::waitFor(kPortmapPort, std::chrono::seconds(10))) {
                setupError = "cannot start /usr/sbin/rpcbind -f (package rpcbind)";
                return;
            }
        }
        peer = new testproc::Child;
        udpOnlyPeer = new testproc::Child;
        if (!startPeer(*peer, {"register"}, ports) ||
            !startPeer(*udpOnlyPeer, {"udp-only", std::to_string(kUdpOnlyOffset)}, udpOnlyPorts))
            setupError = "the test peers did not start";
    }
    static void TearDownTestSuite() {
        for (testproc::Child** c : {&udpOnlyPeer, &peer, &rpcbind}) {
            delete *c;  // stops the process by its PID
            *c = nullptr;
        }
    }

    RpcOperation op{};
    void SetUp() override {
        ASSERT_EQ(setupError, "");
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, "qelrpc-test", 1000, 1000), 1);
    }
    void TearDown() override { rpcCloseOperation(&op); }

    int echo(const char* text, std::string& back) { return peercalls::echo(op, text, back); }
    int null() { return peercalls::null(op); }
};

TEST_F(RealPeers, NullAndEchoOverTcpThroughAPortmapperLookUp) {
    ASSERT_EQ(GetProgramPort(&op, kNullProg, 1, 0), 0);
    EXPECT_EQ(op.hostAddr, loopbackAddress());
    EXPECT_EQ(op.tcpPort, ports.tcp);
    EXPECT_EQ(op.udpPort, 0) << "a TCP port needs no UDP question";
    ASSERT_EQ(null(), 0);
    EXPECT_EQ(op.reply.data.count, 0u);

    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    std::string back;
    ASSERT_EQ(echo("hello over TCP", back), 0);
    EXPECT_EQ(back, "hello over TCP");
    const std::string big(8000, 'q');  // several TCP segments each way
    ASSERT_EQ(echo(big.c_str(), back), 0);
    EXPECT_EQ(back, big);
}

TEST_F(RealPeers, NullAndEchoOverUdpWhenOnlyUdpIsAskedFor) {
    op.protocol = RPC_PROTOCOL_UDP_ONLY;  // the question still goes over TCP to 111
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, ports.udp);
    std::string back;
    ASSERT_EQ(echo("hello over UDP", back), 0);
    EXPECT_EQ(back, "hello over UDP");
    ASSERT_EQ(GetProgramPort(&op, kNullProg, 1, 0), 0);
    EXPECT_EQ(null(), 0);
}

TEST_F(RealPeers, ProgramRegisteredForUdpOnly) {
    ASSERT_EQ(GetProgramPort(&op, kEchoProg + kUdpOnlyOffset, 1, 0), 0);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, udpOnlyPorts.udp);
    std::string back;
    ASSERT_EQ(echo("udp only", back), 0);
    EXPECT_EQ(back, "udp only");
}

TEST_F(RealPeers, UnregisteredProgramHasNoPort) {
    op.tcpPort = 7;
    op.udpPort = 8;
    EXPECT_EQ(GetProgramPort(&op, 0x20000FFF, 1, 0), 1208);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, 0);
}

TEST_F(RealPeers, ServerRefusalsReachTheCaller) {
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    // A procedure the program does not have.
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 7), 0);
    InitDataBuffer(&op.request);
    EXPECT_EQ(CallRPC(&op, 0), -7);
    EXPECT_EQ(op.acceptStat, 3u);
    // Arguments that do not decode: a string length beyond the data.
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    InitDataBuffer(&op.request);
    ASSERT_EQ(mbufAddLong(&op.request.data, 4000), 0);
    EXPECT_EQ(CallRPC(&op, 0), -8);
    // A version the server does not serve: the range follows in the window.
    op.vers = 9;
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    InitDataBuffer(&op.request);
    EXPECT_EQ(CallRPC(&op, 0), -6);
    uint32_t low = 0, high = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &low), 0);
    ASSERT_EQ(mbufGetLong(&op.reply.data, &high), 0);
    EXPECT_EQ(low, 1u);
    EXPECT_EQ(high, 1u);
    // A program the server does not have, at its port.
    op.prog = 0x20000FFF;
    op.vers = 1;
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    InitDataBuffer(&op.request);
    EXPECT_EQ(CallRPC(&op, 0), -5);
}

TEST_F(RealPeers, HostNamesAreResolvedOnceThenKept) {
    // The namespace's host name is localhost, its only address loopback.
    EXPECT_EQ(GetHostIP("localhost", 0), loopbackAddress());
    EXPECT_EQ(GetHostIP("no-such-host.invalid", 0), 0xFFFFFFFFu);

    RpcOperation named{};
    ASSERT_EQ(rpcInitOperationEx(&named, "localhost", 0xFFFFFFFFu), 0);
    ASSERT_EQ(rpcCreateAuthNull(&named), 1);
    ASSERT_EQ(GetProgramPort(&named, kNullProg, 1, 0), 0);
    EXPECT_EQ(named.hostAddr, loopbackAddress());
    // rpcCallRPCProgram checks address and ports, then calls.
    ASSERT_EQ(rpcPrepareRPCHeader(&named, 0), 0);
    InitDataBuffer(&named.request);
    EXPECT_EQ(rpcCallRPCProgram(&named, 0), 0);
    // A resolved address is used as it is; the name is not looked at again.
    named.hostName = "no-such-host.invalid";
    EXPECT_EQ(GetProgramPort(&named, kNullProg, 1, 0), 0);
    named.hostAddr = 0;
    EXPECT_EQ(GetProgramPort(&named, kNullProg, 1, 0), 111001);
    EXPECT_EQ(named.hostAddr, 0xFFFFFFFFu);
    rpcCloseOperation(&named);
}

TEST_F(RealPeers, PortLookUpOverwritesTheCallersBlocks) {
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 5), 0);
    ASSERT_EQ(GetProgramPort(&op, kEchoProg, 1, 0), 0);
    // The request block now holds the portmapper question: program 100000,
    // version 2, GETPORT, AUTH_NULL, then the mapping asked for.
    const uint8_t* b = op.request.block.pos;
    auto w = [&](int off) { return (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) | (uint32_t{b[off + 2]} << 8) | b[off + 3]; };
    EXPECT_EQ(w(16), 100000u);
    EXPECT_EQ(w(20), 2u);
    EXPECT_EQ(w(24), 3u);
    EXPECT_EQ(w(28), 0u);
    EXPECT_EQ(w(44), kEchoProg);
    EXPECT_EQ(w(48), 1u);
    EXPECT_EQ(w(52), 6u);
    EXPECT_EQ(w(56), 0u);
    // The caller's own credential is untouched and writes the next header.
    ASSERT_NE(op.auth, nullptr);
    EXPECT_EQ(op.auth->flavor, RPC_AUTH_UNIX);
    std::string back;
    EXPECT_EQ(echo("after the look-up", back), 0);
}

// ---------------------------------------------------------------------------
// A scripted portmapper on 127.0.0.1:111.
// ---------------------------------------------------------------------------

struct PmapAnswer {
    enum Kind { Port, Close, Reply } kind = Port;
    uint32_t port = 0;
    Bytes reply;  // for Reply: the whole reply after the xid
};
PmapAnswer port(uint32_t p) { return PmapAnswer{PmapAnswer::Port, p, {}}; }
PmapAnswer closes() { return PmapAnswer{PmapAnswer::Close, 0, {}}; }
PmapAnswer reply(Bytes b) { return PmapAnswer{PmapAnswer::Reply, 0, std::move(b)}; }

class FakePortmapper : public ::testing::Test {
  protected:
    RpcOperation op{};
    std::vector<Bytes> questions;
    std::mutex m;

    void SetUp() override {
        if (portprobe::answers(kPortmapPort))
            QELRPC_SKIP_UNLESS_REQUIRED("port 111 is taken; run in a namespace of its own");
        // Short enough for the silent case, long enough for a loaded machine.
        ex::Limits l;
        l.tcpSilenceMicros = 1'500'000;
        ex::setLimits(l);
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopbackAddress()), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    }
    void TearDown() override {
        rpcCloseOperation(&op);
        ex::resetLimits();
    }

    // Answers the n-th question with answers[n-1].
    TcpPeer::Script script(std::vector<PmapAnswer> answers) {
        return [this, answers](int n, Conn& c) {
            Bytes q;
            if (!c.readRecord(q)) return;
            {
                std::lock_guard l(m);
                questions.push_back(q);
            }
            if (n > static_cast<int>(answers.size())) {
                c.holdOpen(std::chrono::milliseconds(3000));  // silence
                return;
            }
            const PmapAnswer& a = answers[static_cast<size_t>(n - 1)];
            if (a.kind == PmapAnswer::Close) return;
            Bytes r;
            putWord(r, wordAt(q, 0));
            if (a.kind == PmapAnswer::Port) {
                const Bytes rest = words({1, 0, 0, 0, 0, a.port});
                r.insert(r.end(), rest.begin(), rest.end());
            } else {
                r.insert(r.end(), a.reply.begin(), a.reply.end());
            }
            c.sendFragment(r, true);
        };
    }
};

TEST_F(FakePortmapper, AnswersAndResults) {
    struct Case {
        const char* what;
        uint16_t protocol;
        std::vector<PmapAnswer> answers;
        int result;
        uint16_t tcp, udp;
        int questions;
    };
    const Case cases[] = {
        {"TCP port found: one question", 0, {port(2049)}, 0, 2049, 0, 1},
        {"UDP only", 0, {port(0), port(2049)}, 0, 0, 2049, 2},
        {"answer 65536 + 111 keeps the low 16 bits", 0, {port(65536 + 111)}, 0, 111, 0, 1},
        {"not registered", 0, {port(0), port(0)}, 1208, 0, 0, 2},
        {"TCP 0xFFFF stays, no UDP port", 0, {port(0xFFFF), port(0)}, 1208, 0xFFFF, 0, 2},
        {"UDP 0xFFFF is no usable port", 0, {port(0), port(0xFFFF)}, 1208, 0, 0xFFFF, 2},
        {"TCP 0xFFFF, UDP found", 0, {port(0xFFFF), port(700)}, 0, 0xFFFF, 700, 2},
        {"UDP only operation asks once", RPC_PROTOCOL_UDP_ONLY, {port(900)}, 0, 0, 900, 1},
        {"TCP question: portmapper closes", 0, {closes()}, 200000 + 10101, 0, 0, 1},
        {"UDP question: portmapper closes", 0, {port(0), closes()}, 300000 + 10101, 0, 0, 2},
        {"TCP question refused with PROG_UNAVAIL", 0, {reply(words({1, 0, 0, 0, 1}))}, 200000 - 5, 0, 0, 1},
        {"TCP question denied AUTH_ERROR", 0, {reply(words({1, 1, 1, 1}))}, 200000 - 4, 0, 0, 1},
        {"success without the port word", 0, {reply(words({1, 0, 0, 0, 0}))}, 200000 - 99, 0, 0, 1},
        {"silent portmapper", 0, {}, 200000 - 1, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::lock_guard l(m);
            questions.clear();
        }
        TcpPeer pmap(script(c.answers), Endpoint{loopbackAddress(), kPortmapPort});
        ASSERT_TRUE(pmap.ok());
        op.protocol = c.protocol;
        op.tcpPort = 1;
        op.udpPort = 2;
        EXPECT_EQ(GetProgramPort(&op, 300019, 4, 0), c.result);
        EXPECT_EQ(op.tcpPort, c.tcp);
        EXPECT_EQ(op.udpPort, c.udp);
        EXPECT_EQ(op.prog, 300019u);
        EXPECT_EQ(op.vers, 4u);
        std::lock_guard l(m);
        ASSERT_EQ(static_cast<int>(questions.size()), c.questions);
        // Each question: GETPORT of the portmapper with AUTH_NULL, and the
        // mapping {prog, vers, prot, 0}; one header (one xid) serves both.
        for (size_t i = 0; i < questions.size(); ++i) {
            const Bytes& q = questions[i];
            ASSERT_EQ(q.size(), 56u);
            EXPECT_EQ(Bytes(q.begin() + 4, q.begin() + 40), words({0, 2, 100000, 2, 3, 0, 0, 0, 0}));
            const uint32_t prot = (c.protocol == RPC_PROTOCOL_UDP_ONLY || i == 1) ? 17 : 6;
            EXPECT_EQ(Bytes(q.begin() + 40, q.end()), words({300019, 4, prot, 0}));
            EXPECT_EQ(wordAt(q, 0), wordAt(questions[0], 0));
        }
    }
}

TEST_F(FakePortmapper, NothingOnPort111) {
    EXPECT_EQ(GetProgramPort(&op, 300019, 4, 0), 200000 + 10061);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, 0);
}

TEST_F(FakePortmapper, CallersConnectModeAppliesToTheQuestion) {
    BlackHole hole(Endpoint{loopbackAddress(), kPortmapPort});
    if (!hole.ok()) QELRPC_SKIP_UNLESS_REQUIRED("could not make a connect hang on this system");
    int flag = 1;  // already cancelled: the connect is abandoned at its first poll
    rpcSetAsyncOperation(&op, 1, nullptr, &flag);
    EXPECT_EQ(GetProgramPort(&op, 300019, 4, 0), 200000 - 2);
}

}  // namespace

#endif  // _WIN32
