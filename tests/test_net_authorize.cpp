// SPDX-License-Identifier: MIT
// User authorisation against real daemons on two servers: the test's own
// namespace (127.0.0.1) and a second namespace reached over a veth pair
// (the alternative server), each with Debian's rpcbind and the libtirpc
// PCNFSD and Qelnfsd daemons, and the reference daemon on the library's
// server side. A packet capture shows what went on the wire.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dispatch_peers.h"
#include "peer_skip.h"
#include "qelrpc.h"
#include "platform/heap.h"
#include "scramble_reference.h"

namespace {

using dispatchpeers::addr;

const uint32_t kServer = addr("127.0.0.1");
const uint32_t kAlt = addr(dispatchpeers::AltNamespace::kAddress);

std::string word(uint32_t w) {
    return std::string{static_cast<char>(w >> 24), static_cast<char>(w >> 16), static_cast<char>(w >> 8),
                       static_cast<char>(w)};
}

using qelrpc::testing::chainScrambled;
using qelrpc::testing::maskScrambled;

struct Result {
    int rc;
    int32_t uid = 55, gid = 66, count;
    std::vector<int32_t> gids;
    uint32_t flags = 0x100;  // a caller's bit, which must survive
};

Result authorize(const char* user, const char* password, uint32_t alt, const char* order, int32_t capacity = 4,
                 const char* comment = "") {
    Result r;
    r.count = capacity;
    r.gids.assign(static_cast<size_t>(capacity) + 1, 77);
    r.rc = PerformAuthorizeUser(user, password, comment, kServer, alt, order, &r.uid, &r.gid, r.gids.data(),
                                &r.count, &r.flags);
    EXPECT_EQ(r.gids.back(), 77);  // never past the capacity
    r.gids.pop_back();
    return r;
}

class Authorize : public ::testing::Test {
  protected:
    testproc::Child rpcbind;
    dispatchpeers::Server server;  // 127.0.0.1
    dispatchpeers::AltNamespace alt;

    void SetUp() override {
        if (!nfspeers::startRpcbind(rpcbind)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not available");
    }
    void withAlternative() { ASSERT_TRUE(alt.start()) << "the second namespace did not come up"; }
};

TEST_F(Authorize, EveryLetterOfTheOrder) {
    withAlternative();
    const uint32_t Q = AUTH_BY_QELNFSD, P = AUTH_BY_PCNFSD, ALT = AUTH_VIA_ALT_SERVER;
    struct Case {
        const char* what;
        const char* order;
        bool useAlt;
        bool serverPcnfsd, serverQelnfsd, altPcnfsd, altQelnfsd;
        int rc;
        uint32_t flags;
    };
    const Case cases[] = {
        {"a: Qelnfsd at the server", "a", false, true, true, true, true, 0, Q},
        {"a with an alternative acts as b", "a", true, true, true, false, true, 0, Q | ALT},
        {"a with an alternative never asks the server", "a", true, true, true, true, false, 1311, 0},
        {"b without an alternative is skipped", "b", false, true, true, true, true, 1311, 0},
        {"b: Qelnfsd at the alternative", "b", true, false, false, false, true, 0, Q | ALT},
        {"c: PCNFSD at the server", "c", false, true, true, true, true, 0, P},
        {"c with an alternative acts as d", "c", true, false, false, true, false, 0, P | ALT},
        {"d without an alternative is skipped", "d", false, true, true, true, true, 1311, 0},
        {"d: PCNFSD at the alternative", "d", true, false, false, true, false, 0, P | ALT},
        {"ca: PCNFSD first", "ca", false, true, true, false, false, 0, P},
        {"ca: Qelnfsd when the server lacks PCNFSD", "ca", false, false, true, false, false, 0, Q},
        {"ab with an alternative: the alternative once, never the server", "ab", true, true, true, false, false,
         1311, 0},
        {"ab with an alternative that knows Qelnfsd", "ab", true, false, false, false, true, 0, Q | ALT},
        {"dc with an alternative: d once, c is d again", "dc", true, true, true, false, false, 1311, 0},
        {"bd without an alternative: nothing is tried", "bd", false, true, true, true, true, 1311, 0},
        {"only the first four characters count", "xxxxa", false, true, true, true, true, 1311, 0},
        {"upper case: AC as ac", "AC", false, true, false, false, false, 0, P},
        {"other characters are skipped", "x-c", false, true, true, false, false, 0, P},
        {"an empty order", "", false, true, true, true, true, 1311, 0},
        {"a is asked again each time it occurs", "aac", false, true, false, false, false, 0, P},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server.serve(c.serverPcnfsd, c.serverQelnfsd));
        ASSERT_TRUE(alt.server().serve(c.altPcnfsd, c.altQelnfsd));
        const Result r = authorize("alice", "wonderland", c.useAlt ? kAlt : 0, c.order);
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.flags, 0x100u | c.flags);
        if (c.rc == 0) {
            EXPECT_EQ(r.uid, 1001);
            EXPECT_EQ(r.gid, 100);
            EXPECT_EQ(r.count, 2);
            EXPECT_EQ(r.gids, (std::vector<int32_t>{27, 1000, -1, -1}));
        } else {
            // Nothing was read: the outputs are as they were.
            EXPECT_EQ(r.uid, 55);
            EXPECT_EQ(r.count, 4);
            EXPECT_EQ(r.gids, (std::vector<int32_t>{77, 77, 77, 77}));
        }
    }
    // A null order tries nothing.
    EXPECT_EQ(authorize("alice", "wonderland", 0, nullptr).rc, 1311);
}

TEST_F(Authorize, EveryOutcome) {
    ASSERT_TRUE(server.serve(true, true));
    struct Case {
        const char* what;
        const char* user;
        const char* password;
        const char* order;
        int32_t capacity;
        int rc;
        int32_t uid, gid, count;
        std::vector<int32_t> gids;
    };
    const std::string name33(33, 'u'), password65(65, 'p'), half30(30, 'x'), half31(31, 'x');
    const Case cases[] = {
        {"Qelnfsd accepts", "alice", "wonderland", "a", 3, 0, 1001, 100, 2, {27, 1000, -1}},
        {"PCNFSD accepts", "alice", "wonderland", "c", 3, 0, 1001, 100, 2, {27, 1000, -1}},
        {"Qelnfsd: more gids than room", "alice", "wonderland", "a", 1, 0, 1001, 100, 1, {27}},
        {"PCNFSD: more gids than room", "alice", "wonderland", "c", 1, 0, 1001, 100, 1, {27}},
        {"no further gids", "bob", "builder", "c", 2, 0, 1002, 100, 0, {-1, -1}},
        {"Qelnfsd refuses: 1317", "alice", "wrong", "a", 2, 1317, -1, -1, 2, {-1, -1}},
        {"PCNFSD refuses: 5", "alice", "wrong", "c", 2, 5, -1, -1, 2, {-1, -1}},
        {"PCNFSD: unknown user", "nosuch", "x", "c", 1, 5, -1, -1, 1, {-1}},
        {"PCNFSD: a user name of 33 characters", name33.c_str(), "x", "c", 1, 1359, 55, 66, 1, {77}},
        {"PCNFSD: a password of 65 characters", "alice", password65.c_str(), "c", 1, 1359, 55, 66, 1, {77}},
        {"Qelnfsd: 61 characters of name and password", half30.c_str(), half31.c_str(), "a", 1, 1359, 55, 66, 1,
         {77}},
        {"Qelnfsd: 60 characters still go out", half30.c_str(), half30.c_str(), "a", 1, 1317, -1, -1, 1, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dispatchpeers::Capture capture;
        ASSERT_TRUE(capture.ok());
        const Result r = authorize(c.user, c.password, 0, c.order, c.capacity);
        capture.drain();
        EXPECT_EQ(r.rc, c.rc);
        EXPECT_EQ(r.uid, c.uid);
        EXPECT_EQ(r.gid, c.gid);
        EXPECT_EQ(r.count, c.count);
        EXPECT_EQ(r.gids, c.gids);
        EXPECT_EQ(r.flags, 0x100u | (c.order[0] == 'a' ? AUTH_BY_QELNFSD : AUTH_BY_PCNFSD));
        // Over-long credentials go nowhere: only the portmapper was asked.
        const bool sent = capture.sawPort(server.ports().tcp) || capture.sawPort(server.ports().udp);
        EXPECT_EQ(sent, c.rc != 1359);
        EXPECT_TRUE(capture.sawPort(111));
    }
}

TEST_F(Authorize, FailuresOfTheMachinery) {
    ASSERT_TRUE(server.serve(true, true));
    // The shared blocks cannot be had.
    qelrpc::heap::failAfter(0);
    Result r = authorize("alice", "wonderland", 0, "a");
    qelrpc::heap::failAfter(-1);
    EXPECT_EQ(r.rc, 1359);
    EXPECT_EQ(r.flags, 0x100u);

    // The AUTH_NULL credential cannot be made once the daemon is chosen
    // (two blocks and the port look-up's own credential came first): the
    // flags of the chosen daemon stay, the outputs do not change.
    qelrpc::heap::failAfter(3);
    r = authorize("alice", "wonderland", 0, "c");
    qelrpc::heap::failAfter(-1);
    EXPECT_EQ(r.rc, 1359);
    EXPECT_EQ(r.flags, 0x100u | AUTH_BY_PCNFSD);
    EXPECT_EQ(r.uid, 55);

    // The portmapper names a port where nobody answers: the call's own
    // failure comes back.
    server.crash();
    r = authorize("alice", "wonderland", 0, "a");
    EXPECT_EQ(r.rc, 10061);
    EXPECT_EQ(r.flags, 0x100u | AUTH_BY_QELNFSD);
    EXPECT_EQ(r.uid, 55);
    EXPECT_EQ(r.gids, (std::vector<int32_t>{77, 77, 77, 77}));
}

TEST_F(Authorize, WhatGoesOnTheWire) {
    ASSERT_TRUE(server.serve(true, true));
    {
        SCOPED_TRACE("Qelnfsd");
        dispatchpeers::Capture capture;
        ASSERT_TRUE(capture.ok());
        const std::string comment(100, 'k');
        Result r = authorize("bob", "builder", 0, "a", 4, comment.c_str());
        capture.drain();
        ASSERT_EQ(r.rc, 0);
        // server address octets, 4, the comment cut to 64, the credentials:
        // length = 3 + 7 + 4, two zero bytes, name, NUL, password, NUL, all
        // chain-scrambled, padded to 16.
        const std::string cred = chainScrambled(std::string("\0\0bob\0builder\0", 14));
        const std::string args = std::string("\x7F\0\0\x01", 4) + word(4) + word(64) + comment.substr(0, 64) +
                                 word(14) + cred + std::string(2, '\0');
        EXPECT_TRUE(capture.contains(args));
        EXPECT_FALSE(capture.contains("builder"));
    }
    {
        SCOPED_TRACE("PCNFSD");
        dispatchpeers::Capture capture;
        ASSERT_TRUE(capture.ok());
        Result r = authorize("bob", "builder", 0, "c", 4, "a comment");
        capture.drain();
        ASSERT_EQ(r.rc, 0);
        // client host name, user, password (each masked), comment as given.
        const std::string args = word(9) + "localhost" + std::string(3, '\0') + word(3) + maskScrambled("bob") +
                                 std::string(1, '\0') + word(7) + maskScrambled("builder") + std::string(1, '\0') +
                                 word(9) + "a comment";
        EXPECT_TRUE(capture.contains(args));
        EXPECT_FALSE(capture.contains("builder"));
    }
    {
        SCOPED_TRACE("a [ in a PCNFSD user name ends it");
        dispatchpeers::Capture capture;
        ASSERT_TRUE(capture.ok());
        Result r = authorize("ali[ce", "wonderland", 0, "c");
        capture.drain();
        EXPECT_EQ(r.rc, 5);  // the daemon heard of "ali" only
        EXPECT_TRUE(capture.contains(word(3) + maskScrambled("ali") + std::string(1, '\0') + word(10) +
                                     maskScrambled("wonderland")));
        EXPECT_FALSE(capture.contains("wonderland"));
    }
}

TEST_F(Authorize, TheReferenceDaemonAgrees) {
    testproc::Child refd;
    ASSERT_NE(nfspeers::startRefDaemon(refd), 0);
    for (const char* order : {"a", "c"}) {
        SCOPED_TRACE(order);
        Result r = authorize("alice", "wonderland", 0, order);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.uid, 1001);
        EXPECT_EQ(r.gids, (std::vector<int32_t>{27, 1000, -1, -1}));
        r = authorize("root", "wrong", 0, order);
        EXPECT_EQ(r.rc, order[0] == 'a' ? 1317 : 5);
        EXPECT_EQ(r.uid, -1);
    }
}

}  // namespace
