// SPDX-License-Identifier: MIT
// The PCNFSD and Qelnfsd clients against real daemons (libtirpc test
// daemons over TCP and over UDP, and the reference daemon on the library's
// own server side), all registered with Debian's rpcbind in the test's own
// network namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "nfsuser_peers.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"

namespace {

// The names of a name list, for comparing.
using peercalls::split;

enum class Peer { TirpcTcp, TirpcUdp, RefDaemon };

std::string peerName(const ::testing::TestParamInfo<Peer>& p) {
    switch (p.param) {
        case Peer::TirpcTcp: return "TirpcTcp";
        case Peer::TirpcUdp: return "TirpcUdpOnly";
        default: return "RefDaemon";
    }
}

class Daemons : public ::testing::TestWithParam<Peer> {
  protected:
    testproc::Child rpcbind, daemon;
    RpcOperation op{};

    void SetUp() override {
        if (!nfspeers::startRpcbind(rpcbind)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not available");
        switch (GetParam()) {
            case Peer::TirpcTcp: ASSERT_TRUE(nfspeers::startTirpcDaemons(daemon, "tcp")); break;
            case Peer::TirpcUdp: ASSERT_TRUE(nfspeers::startTirpcDaemons(daemon, "udp")); break;
            case Peer::RefDaemon: ASSERT_NE(nfspeers::startRefDaemon(daemon), 0); break;
        }
    }
    void TearDown() override { rpcCloseOperation(&op); }

    // An operation as the name-service check leaves it: open, AUTH_UNIX,
    // the daemon's program, version and port.
    void openFor(uint32_t prog, uint32_t vers) {
        rpcCloseOperation(&op);
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, nullptr, 0, 0), 1);
        ASSERT_EQ(GetProgramPort(&op, prog, vers, 0), 0);
        if (GetParam() == Peer::TirpcUdp) {
            // Registered for UDP only: the calls go by datagram.
            EXPECT_TRUE(op.tcpPort == 0 || op.tcpPort == 0xFFFF) << op.tcpPort;
            EXPECT_NE(op.udpPort, 0);
        }
    }
    static bool closed(const RpcOperation& o) { return o.request.block.pos == nullptr && o.auth == nullptr; }
};

TEST_P(Daemons, PcnfsdNamesToIdsInOneCall) {
    struct Case { const char* what; bool groups; std::string list; uint32_t count; std::vector<int32_t> want; };
    const Case cases[] = {
        {"user names", false, std::string("alice\0bob\0", 10), 2, {1001, 1002}},
        {"unknown user", false, std::string("nosuch\0root\0", 12), 2, {-1, 0}},
        {"group names", true, std::string("users\0staff\0", 12), 2, {100, 1000}},
        {"count 0", true, std::string("\0", 1), 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openFor(PCNFSD_PROGRAM, PCNFSD_VERSION);
        std::vector<int32_t> ids(c.count + 1, 77);
        const int rc = c.groups ? PcnfsdGetGidsFromGNames(&op, 0, 0, c.count, c.list.c_str(), ids.data())
                                : PcnfsdGetUidsFromUNames(&op, 0, 0, c.count, c.list.c_str(), ids.data());
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(std::vector<int32_t>(ids.begin(), ids.begin() + c.count), c.want);
        EXPECT_EQ(ids[c.count], 77);  // nothing written past count
        EXPECT_FALSE(closed(op));     // openOperation clear: the caller keeps it
    }
}

TEST_P(Daemons, PcnfsdIdsToNamesUseTheDecimalIdForUnknownIds) {
    openFor(PCNFSD_PROGRAM, PCNFSD_VERSION);
    int32_t uids[] = {1001, 4242, 0};
    char names[3 * 256];
    std::memset(names, 'Z', sizeof names);
    ASSERT_EQ(PcnfsdGetUNamesFromUids(&op, 0, 0, 3, names, uids), 0);
    EXPECT_EQ(split(names, 3), (std::vector<std::string>{"alice", "4242", "root"}));

    int32_t gids[] = {27, 4242};
    ASSERT_EQ(PcnfsdGetGNamesFromGids(&op, 1, 1, 2, names, gids), 0);
    EXPECT_EQ(split(names, 2), (std::vector<std::string>{"sudo", "4242"}));
    EXPECT_TRUE(closed(op));  // openOperation set: closed before returning
}

TEST_P(Daemons, PcnfsdSelfContainedIdCallsSayNobody) {
    for (bool lookup : {true, false}) {
        SCOPED_TRACE(lookup ? "with port look-up" : "port already known");
        RpcOperation own{};
        own.hostAddr = htonl(INADDR_LOOPBACK);
        if (!lookup) {
            openFor(PCNFSD_PROGRAM, PCNFSD_VERSION);
            own.prog = op.prog;
            own.vers = op.vers;
            own.tcpPort = op.tcpPort;
            own.udpPort = op.udpPort;
        }
        int32_t uids[] = {1002, 4242};
        char names[2 * 256];
        ASSERT_EQ(PerformPcnfsdReqUid(&own, 1, lookup ? 1 : 0, 2, uids, names), 0);
        EXPECT_EQ(split(names, 2), (std::vector<std::string>{"bob", "Nobody"}));
        EXPECT_TRUE(closed(own));
        int32_t gids[] = {1000};
        ASSERT_EQ(PerformPcnfsdReqGid(&own, 1, lookup ? 1 : 0, 1, gids, names), 0);
        EXPECT_STREQ(names, "staff");
        EXPECT_TRUE(closed(own));
    }
}

TEST_P(Daemons, QelnfsdQuestions) {
    RpcOperation q{};
    q.hostAddr = htonl(INADDR_LOOPBACK);
    int32_t gid = 5;
    ASSERT_EQ(PerformQelnfsdGroupName(&q, 1, 1, "staff", &gid), 0);
    EXPECT_EQ(gid, 1000);
    EXPECT_TRUE(closed(q));
    ASSERT_EQ(PerformQelnfsdGroupName(&q, 1, 1, "nosuch", &gid), 0);
    EXPECT_EQ(gid, -1);

    char names[3 * 256];
    int32_t gids[] = {100, 27};
    ASSERT_EQ(PerformQelnfsdReqGid(&q, 1, 1, 2, gids, names), 0);
    EXPECT_EQ(split(names, 2), (std::vector<std::string>{"users", "sudo"}));

    int32_t uids[] = {1001, 0, 1002};
    ASSERT_EQ(PerformQelnfsdReqUid(&q, 1, 1, 3, uids, names), 0);
    EXPECT_EQ(split(names, 3), (std::vector<std::string>{"alice", "root", "bob"}));

    // An unknown first id: the list ends at once and nothing is written.
    std::memset(names, 'Z', sizeof names);
    int32_t unknown[] = {4242, 100};
    ASSERT_EQ(PerformQelnfsdReqGid(&q, 1, 1, 2, unknown, names), 0);
    EXPECT_EQ(names[0], 'Z');
    EXPECT_TRUE(closed(q));
}

TEST_P(Daemons, QelnfsdOnACallerOwnedOperation) {
    openFor(QELNFSD_PROGRAM, QELNFSD_VERSION);
    RpcOperation mine = op;  // same blocks; ports known, no look-up
    int32_t gid = 0;
    ASSERT_EQ(PerformQelnfsdGroupName(&mine, 0, 0, "sudo", &gid), 0);
    EXPECT_EQ(gid, 27);
    EXPECT_NE(mine.request.block.pos, nullptr);  // still open
    op = mine;                                   // TearDown closes it, with its credential
}

// The namespace's TCP sockets connected to `port` (/proc/net/tcp): the
// client's side of every connection made to it, open or in TIME_WAIT.
size_t connectionsTo(uint16_t port) {
    std::ifstream in("/proc/net/tcp");
    std::string line, slot, local, remote;
    size_t n = 0;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        f >> slot >> local >> remote;
        const auto colon = remote.find(':');
        if (colon != std::string::npos && std::strtoul(remote.c_str() + colon + 1, nullptr, 16) == port) ++n;
    }
    return n;
}

// Qelnfsd answers names one call each: on a caller's operation that keeps
// its connection, all of them go over one connection (or one UDP socket).
TEST_P(Daemons, QelnfsdNameCallsShareTheKeptConnection) {
    openFor(QELNFSD_PROGRAM, QELNFSD_VERSION);
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    const char names[] = "alice\0bob\0root\0nosuch\0alice";
    int32_t uids[5] = {7, 7, 7, 7, 7};
    ASSERT_EQ(PerformGetUidsFromUNames(&op, 0, 0, 5, names, uids), 0);
    EXPECT_EQ(std::vector<int32_t>(uids, uids + 5), (std::vector<int32_t>{1001, 1002, 0, -1, 1001}));
    const RpcSocket kept = op.sock;
    ASSERT_NE(kept, RPC_INVALID_SOCKET);
    int32_t gid = 0;
    ASSERT_EQ(PerformQelnfsdGroupName(&op, 0, 0, "staff", &gid), 0);
    EXPECT_EQ(gid, 1000);
    EXPECT_EQ(op.sock, kept);
    if (GetParam() != Peer::TirpcUdp) {
        // The look-up's connection to port 111 aside, one to the daemon.
        EXPECT_EQ(connectionsTo(op.tcpPort), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, Daemons, ::testing::Values(Peer::TirpcTcp, Peer::TirpcUdp, Peer::RefDaemon),
                         peerName);

// With openOperation set, every failure path closes the operation.
TEST(NfsUserFailures, OpenOperationIsClosedOnEveryPath) {
    testproc::Child rpcbind;
    if (!nfspeers::startRpcbind(rpcbind)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not available");
    // No daemon registered: the port look-up fails.
    struct Case { const char* what; int (*call)(RpcOperation*); };
    const Case cases[] = {
        {"PerformPcnfsdReqUid", [](RpcOperation* o) {
             int32_t id = 0; char n[256];
             return PerformPcnfsdReqUid(o, 1, 1, 1, &id, n); }},
        {"PerformPcnfsdReqGid", [](RpcOperation* o) {
             int32_t id = 0; char n[256];
             return PerformPcnfsdReqGid(o, 1, 1, 1, &id, n); }},
        {"PerformQelnfsdGroupName", [](RpcOperation* o) {
             int32_t g = 9;
             return PerformQelnfsdGroupName(o, 1, 1, "x", &g); }},
        {"PerformQelnfsdReqUid", [](RpcOperation* o) {
             int32_t id = 0; char n[256];
             return PerformQelnfsdReqUid(o, 1, 1, 1, &id, n); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RpcOperation o{};
        o.hostAddr = htonl(INADDR_LOOPBACK);
        EXPECT_NE(c.call(&o), 0);
        EXPECT_EQ(o.request.block.pos, nullptr);
        EXPECT_EQ(o.reply.block.pos, nullptr);
        EXPECT_EQ(o.auth, nullptr);
    }
}

}  // namespace
