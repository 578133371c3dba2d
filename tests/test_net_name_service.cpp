// SPDX-License-Identifier: MIT
// Name-service dispatch against real services: the directory-service
// library (ours, answering through NSS from a test account database bound
// over /etc/passwd and /etc/group), and the libtirpc PCNFSD and Qelnfsd
// daemons registered with Debian's rpcbind, all inside the test's own
// network and mount namespaces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dispatch_peers.h"
#include "nfsuser/name_service.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"
#include "siblings/qelnis/qelnis.h"

using qelrpc::nfsuser::forgetNameServiceKind;
using qelrpc::nfsuser::rememberedNameServiceKind;

namespace {

using peercalls::split;

// The directory-service library as the library finds it: configured with
// type `type` (nullptr: the setting absent), or at `path`.
void directoryService(const char* type, const char* path = QELNIS_LIBRARY) {
    if (type != nullptr) setenv("QELNIS_TYPE", type, 1);
    else unsetenv("QELNIS_TYPE");
    setenv("QELRPC_QELNIS_PATH", path, 1);
}

// A group with enough members that its entry needs more than the first
// look-up buffer.
std::string bigGroupLine() {
    std::string line = "testers:x:3001:";
    for (int i = 0; i < 2000; ++i) line += (i ? ",member" : "member") + std::to_string(i);
    return line + "\n";
}

bool bindTestAccounts() {
    return dispatchpeers::bindAccounts(
        "carol:x:2001:3001::/nonexistent:/usr/sbin/nologin\n"
        "qelbob:x:2003:3002::/nonexistent:/usr/sbin/nologin\n",
        bigGroupLine() + "qelgroup:x:3002:carol\n");
}

bool closed(const RpcOperation& o) { return o.request.block.pos == nullptr && o.auth == nullptr; }

class NameService : public ::testing::Test {
  protected:
    testproc::Child rpcbind;
    dispatchpeers::Server server;
    RpcOperation op{};

    void SetUp() override {
        forgetNameServiceKind();
        if (!nfspeers::startRpcbind(rpcbind)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not available");
    }
    void TearDown() override {
        rpcCloseOperation(&op);
        unsetenv("QELNIS_TYPE");
        unsetenv("QELRPC_QELNIS_PATH");
    }
    void fresh() {
        rpcCloseOperation(&op);
        op = RpcOperation{};
        op.hostAddr = htonl(INADDR_LOOPBACK);
    }
};

TEST_F(NameService, TheDirectoryServiceComesFirstAndLeavesTheOperationAlone) {
    ASSERT_TRUE(server.serve(true, true));
    directoryService("1");
    fresh();
    int32_t kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    EXPECT_EQ(kind, NameServiceDirectory);
    EXPECT_EQ(rememberedNameServiceKind(), NameServiceDirectory);
    EXPECT_TRUE(closed(op));  // never opened, no credential
    EXPECT_EQ(op.prog, 0u);   // no port look-up either
}

TEST_F(NameService, DaemonsAnswerWhenNoDirectoryServiceIsConfigured) {
    struct Case {
        const char* what;
        const char* type;  // QELNIS_TYPE, nullptr = unset
        const char* path;
        bool pcnfsd, qelnfsd;
        int rc;
        int32_t kind;
    };
    const Case cases[] = {
        {"library absent, both daemons: PCNFSD first", "1", "/nonexistent/libqelnis.so", true, true, 0,
         NameServicePcnfsd},
        {"library says type 0", "0", QELNIS_LIBRARY, true, true, 0, NameServicePcnfsd},
        {"setting absent", nullptr, QELNIS_LIBRARY, true, true, 0, NameServicePcnfsd},
        {"setting not a number", "yes", QELNIS_LIBRARY, true, true, 0, NameServicePcnfsd},
        {"a library without the entry points", "1", QELRPC_LIBRARY, true, true, 0, NameServicePcnfsd},
        {"only Qelnfsd registered", "0", QELNIS_LIBRARY, false, true, 0, NameServiceQelnfsd},
        {"nothing registered", "0", QELNIS_LIBRARY, false, false, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server.serve(c.pcnfsd, c.qelnfsd));
        directoryService(c.type, c.path);
        forgetNameServiceKind();
        fresh();
        int32_t kind = 77;
        EXPECT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), c.rc);
        if (c.rc != 0) {
            EXPECT_EQ(kind, 77);  // not written
            EXPECT_TRUE(closed(op));
            EXPECT_EQ(rememberedNameServiceKind(), 0);
            continue;
        }
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(rememberedNameServiceKind(), c.kind);
        // Left open for the question: AUTH_UNIX, the daemon's program and port.
        ASSERT_FALSE(closed(op));
        EXPECT_EQ(op.auth->flavor, RPC_AUTH_UNIX);
        EXPECT_EQ(op.prog, c.kind == NameServicePcnfsd ? PCNFSD_PROGRAM : QELNFSD_PROGRAM);
        EXPECT_NE(op.tcpPort, 0);
    }
}

TEST_F(NameService, WithoutPortLookupTheOperationsProgramDecides) {
    directoryService("0");
    struct Case {
        const char* what;
        uint32_t prog;
        uint16_t tcp, udp;
        int rc;
        int32_t kind;
    };
    const Case cases[] = {
        {"Qelnfsd over TCP", QELNFSD_PROGRAM, 900, 0, 0, NameServiceQelnfsd},
        {"Qelnfsd over UDP", QELNFSD_PROGRAM, 0, 901, 0, NameServiceQelnfsd},
        {"PCNFSD", PCNFSD_PROGRAM, 902, 0, 0, NameServicePcnfsd},
        {"no port", PCNFSD_PROGRAM, 0, 0, -1, 0},
        {"another program", 100003, 2049, 0, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        forgetNameServiceKind();
        fresh();
        ASSERT_EQ(rpcInitOperation(&op), 0);
        op.prog = c.prog;
        op.tcpPort = c.tcp;
        op.udpPort = c.udp;
        int32_t kind = 0;
        EXPECT_EQ(PerformNfsdCheck(&op, 0, 0, &kind), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(kind, c.kind);
        }
        EXPECT_FALSE(closed(op));  // the caller's operation stays the caller's
        EXPECT_EQ(op.tcpPort, c.tcp);
    }
}

TEST_F(NameService, TheRememberedKindSparesTheCheck) {
    ASSERT_TRUE(bindTestAccounts());
    ASSERT_TRUE(server.serve(true, true));
    directoryService("1");
    fresh();
    int32_t kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    ASSERT_EQ(kind, NameServiceDirectory);

    // The library would now say "not configured", but a check with
    // openOperation clear does not ask it again...
    directoryService("0");
    kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 0, 1, &kind), 0);
    EXPECT_EQ(kind, NameServiceDirectory);
    // ...and the question goes to the directory service (loaded for it).
    int32_t uid = 0;
    ASSERT_EQ(PerformGetUidsFromUNames(&op, 0, 1, 1, "carol", &uid), 0);
    EXPECT_EQ(uid, 2001);

    // openOperation set: the whole choice again, now PCNFSD.
    fresh();
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    EXPECT_EQ(kind, NameServicePcnfsd);
    EXPECT_EQ(rememberedNameServiceKind(), NameServicePcnfsd);

    // With the daemons and the portmapper gone, a check with openOperation
    // clear still answers from memory, without any exchange...
    server.stop();
    rpcbind.stop();
    ASSERT_EQ(PerformNfsdCheck(&op, 0, 1, &kind), 0);
    EXPECT_EQ(kind, NameServicePcnfsd);
    // ...and a full check that finds nothing keeps the remembered kind.
    fresh();
    kind = 77;
    EXPECT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), -1);
    EXPECT_EQ(kind, 77);
    EXPECT_TRUE(closed(op));
    EXPECT_EQ(rememberedNameServiceKind(), NameServicePcnfsd);
}

TEST_F(NameService, DirectoryServiceQuestions) {
    ASSERT_TRUE(bindTestAccounts());
    ASSERT_TRUE(server.serve(true, true));  // there, but never asked
    directoryService("1");
    for (uint8_t open : {1, 0}) {
        SCOPED_TRACE(open ? "openOperation set" : "openOperation clear");
        forgetNameServiceKind();
        fresh();

        int32_t uids[4] = {9, 9, 9, 9};
        const std::string users("qelbob\0\0carol\0nosuch\0", 21);
        ASSERT_EQ(PerformGetUidsFromUNames(&op, open, 1, 4, users.data(), uids), 0);
        EXPECT_EQ(std::vector<int32_t>(uids, uids + 4), (std::vector<int32_t>{2003, -1, 2001, -1}));

        int32_t gids[3] = {9, 9, 9};
        const std::string groups("testers\0nosuch\0qelgroup\0", 24);
        ASSERT_EQ(PerformGetGidsFromGNames(&op, open, 1, 3, groups.data(), gids), 0);
        EXPECT_EQ(std::vector<int32_t>(gids, gids + 3), (std::vector<int32_t>{3001, -1, 3002}));

        // An id the database does not know yields an empty name, not the
        // name of the id before it.
        char names[4 * 256];
        std::memset(names, 'Z', sizeof names);
        const int32_t ids[] = {2001, 4242, 2003, 0};
        ASSERT_EQ(PerformGetUserNamesFromUids(&op, open, 1, 4, names, ids), 0);
        EXPECT_EQ(split(names, 4), (std::vector<std::string>{"carol", "", "qelbob", "root"}));
        const int32_t gidList[] = {3001, 4242, 3002};
        ASSERT_EQ(PerformGetGNamesFromGids(&op, open, 1, 3, names, gidList), 0);
        EXPECT_EQ(split(names, 3), (std::vector<std::string>{"testers", "", "qelgroup"}));

        // The one-name form answers through the directory service too.
        int32_t gid = 0;
        ASSERT_EQ(PerformPcnfsdGroupName(&op, open, 1, "qelgroup", &gid), 0);
        EXPECT_EQ(gid, 3002);
        EXPECT_TRUE(closed(op));  // the directory branch never opens it
    }

    // The library disappears after the check: the questions say so.
    setenv("QELRPC_QELNIS_PATH", "/nonexistent/libqelnis.so", 1);
    int32_t uid = 9;
    EXPECT_EQ(PerformGetUidsFromUNames(&op, 0, 1, 1, "carol", &uid), -1);
    EXPECT_EQ(uid, 9);
    char names[256] = "untouched";
    const int32_t one = 2001;
    EXPECT_EQ(PerformGetUserNamesFromUids(&op, 0, 1, 1, names, &one), -1);
    EXPECT_STREQ(names, "untouched");
}

TEST_F(NameService, DirectoryLibraryEntryPoints) {
    ASSERT_TRUE(bindTestAccounts());
    char buf[256];
    // Cut to the buffer, always terminated.
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(dirservice_gidtogroupname(3001, buf, 4), 0);
    EXPECT_STREQ(buf, "tes");
    EXPECT_EQ(dirservice_gidtogroupname(3001, buf, 1), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(dirservice_gidtogroupname(3001, buf, 0), -1);
    // Unknown: the buffer and the outputs stay as they were.
    std::strcpy(buf, "kept");
    EXPECT_EQ(dirservice_uidtousername(4242, buf, 256), 1);
    EXPECT_STREQ(buf, "kept");
    int uid = 5, gid = 6;
    EXPECT_EQ(dirservice_getlocalcreds("nosuch", &uid, &gid), 1);
    EXPECT_EQ(uid, 5);
    EXPECT_EQ(dirservice_getlocalcreds("carol", &uid, &gid), 0);
    EXPECT_EQ(uid, 2001);
    EXPECT_EQ(gid, 3001);
    // A group whose entry is larger than the first buffer.
    int g = 0;
    EXPECT_EQ(dirservice_groupnametogid("testers", &g), 0);
    EXPECT_EQ(g, 3001);
    EXPECT_EQ(dirservice_groupnametogid(nullptr, &g), -1);
    // The setting.
    int type = 9;
    unsetenv("QELNIS_TYPE");
    EXPECT_EQ(dirservice_gettype(&type), 1);
    EXPECT_EQ(type, 0);
    setenv("QELNIS_TYPE", "7", 1);
    EXPECT_EQ(dirservice_gettype(&type), 1);
    EXPECT_EQ(type, 7);
    setenv("QELNIS_TYPE", "7x", 1);
    EXPECT_EQ(dirservice_gettype(&type), 1);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(dirservice_gettype(nullptr), 0);
}

TEST_F(NameService, PcnfsdBranch) {
    ASSERT_TRUE(server.serve(true, true));
    directoryService(nullptr);
    fresh();
    int32_t uids[2];
    ASSERT_EQ(PerformGetUidsFromUNames(&op, 1, 1, 2, std::string("alice\0bob\0", 10).data(), uids), 0);
    EXPECT_EQ(uids[0], 1001);
    EXPECT_EQ(uids[1], 1002);
    EXPECT_TRUE(closed(op));
    EXPECT_EQ(rememberedNameServiceKind(), NameServicePcnfsd);

    // The caller keeps an operation the check opened for it.
    int32_t kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    char names[2 * 256];
    const int32_t gids[] = {27, 4242};
    ASSERT_EQ(PerformGetGNamesFromGids(&op, 0, 0, 2, names, gids), 0);
    EXPECT_EQ(split(names, 2), (std::vector<std::string>{"sudo", "4242"}));
    const int32_t ids[] = {0};
    ASSERT_EQ(PerformGetUserNamesFromUids(&op, 0, 0, 1, names, ids), 0);
    EXPECT_STREQ(names, "root");
    int32_t gid = 0;
    ASSERT_EQ(PerformPcnfsdGroupName(&op, 0, 0, "staff", &gid), 0);
    EXPECT_EQ(gid, 1000);
    EXPECT_FALSE(closed(op));
}

TEST_F(NameService, QelnfsdBranch) {
    ASSERT_TRUE(server.serve(false, true));
    directoryService(nullptr);
    fresh();

    int32_t gids[3] = {9, 9, 9};
    ASSERT_EQ(PerformGetGidsFromGNames(&op, 1, 1, 3, std::string("users\0staff\0nosuch\0", 19).data(), gids), 0);
    EXPECT_EQ(std::vector<int32_t>(gids, gids + 3), (std::vector<int32_t>{100, 1000, -1}));
    EXPECT_TRUE(closed(op));
    EXPECT_EQ(rememberedNameServiceKind(), NameServiceQelnfsd);

    int32_t uids[3] = {9, 9, 9};
    ASSERT_EQ(PerformGetUidsFromUNames(&op, 1, 1, 3, std::string("alice\0nosuch\0root\0", 19).data(), uids), 0);
    EXPECT_EQ(std::vector<int32_t>(uids, uids + 3), (std::vector<int32_t>{1001, -1, 0}));

    // More ids than one call carries: the names come back whole and in order.
    std::vector<int32_t> many(300);
    std::vector<std::string> want;
    for (size_t i = 0; i < many.size(); ++i) {
        many[i] = (i % 3 == 0) ? 100 : (i % 3 == 1) ? 27 : 0;
        want.push_back((i % 3 == 0) ? "users" : (i % 3 == 1) ? "sudo" : "wheel");
    }
    std::vector<char> names(many.size() * 256);
    ASSERT_EQ(PerformGetGNamesFromGids(&op, 1, 1, static_cast<uint32_t>(many.size()), names.data(), many.data()), 0);
    EXPECT_EQ(split(names.data(), many.size()), want);
    EXPECT_TRUE(closed(op));

    // The caller's own operation, kept open throughout.
    int32_t kind = 0;
    ASSERT_EQ(PerformNfsdCheck(&op, 1, 1, &kind), 0);
    const int32_t two[] = {1002, 1001};
    ASSERT_EQ(PerformGetUserNamesFromUids(&op, 0, 0, 2, names.data(), two), 0);
    EXPECT_EQ(split(names.data(), 2), (std::vector<std::string>{"bob", "alice"}));
    EXPECT_FALSE(closed(op));

    // With the daemon dead (its port still registered): names to ids with
    // count 0 make no call and succeed; ids to names with count 0 still
    // make their one call, which fails; a failed name keeps -1.
    server.crash();
    EXPECT_EQ(PerformGetGidsFromGNames(&op, 0, 0, 0, "", gids), 0);
    EXPECT_NE(PerformGetGNamesFromGids(&op, 0, 0, 0, names.data(), gids), 0);
    uids[0] = 9;
    EXPECT_NE(PerformGetUidsFromUNames(&op, 0, 0, 1, "alice", uids), 0);
    EXPECT_EQ(uids[0], -1);
}

}  // namespace
