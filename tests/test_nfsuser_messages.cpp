// SPDX-License-Identifier: MIT
// The PCNFSD and Qelnfsd argument writers and result readers, byte for
// byte, including replies a real daemon would not send: lists that end
// early, over-long names, truncated results, a refused item mid-list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_reply.h"
#include "qelrpc.h"
#ifndef QELRPC_TEST_SHARED_LIBRARY
#include "nfsuser/pcnfsd.h"
#include "nfsuser/qelnfsd.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;
#ifndef QELRPC_TEST_SHARED_LIBRARY
// The readers over a bounded window are the library's own: against the
// shared library only their exported callers are reached.
using qelrpc::nfsuser::readPcnfsdResponseGidOrUid;
using qelrpc::nfsuser::readPcnfsdResponseGroupNames;
using qelrpc::nfsuser::readQelnfsdResponseGidOrUid;
using qelrpc::nfsuser::readQelnfsdResponseGroupNames;
#endif

void put(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}
void putString(Bytes& b, const std::string& s) {
    put(b, static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    while (b.size() % 4) b.push_back(0);
}
Bytes words(std::initializer_list<uint32_t> ws) {
    Bytes b;
    for (uint32_t w : ws) put(b, w);
    return b;
}
// A MAPID result item.
void item(Bytes& b, uint32_t kind, uint32_t status, int32_t id, const std::string& name) {
    put(b, 1);
    put(b, kind);
    put(b, status);
    put(b, static_cast<uint32_t>(id));
    putString(b, name);
}

[[maybe_unused]] MbufCursor windowOver(Bytes& b) {
    return MbufCursor{static_cast<uint32_t>(b.size()), static_cast<uint32_t>(b.size()), b.data()};
}

// An output area of count names with a guard behind it.
struct NameArea {
    std::vector<char> bytes;
    size_t count;
    explicit NameArea(size_t n) : bytes(n * 256 + 64, 'Z'), count(n) {}
    char* data() { return bytes.data(); }
    bool guardIntact() const {
        for (size_t i = count * 256; i < bytes.size(); ++i)
            if (bytes[i] != 'Z') return false;
        return true;
    }
    std::vector<std::string> names(size_t n) const {
        std::vector<std::string> out;
        const char* p = bytes.data();
        for (size_t i = 0; i < n; ++i) {
            out.emplace_back(p);
            p += out.back().size() + 1;
        }
        return out;
    }
};

class Messages : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, "h", 0, 0), 1);
        op.prog = PCNFSD_PROGRAM;
        op.vers = PCNFSD_VERSION;
        ASSERT_EQ(rpcPrepareRPCHeader(&op, PCNFSD_PROC_MAPID), 0);
    }
    void TearDown() override { rpcCloseOperation(&op); }
    Bytes request() const { return Bytes(op.request.data.pos - op.request.data.count, op.request.data.pos); }
    // Places results in the reply block as a checked reply leaves them.
    void reply(const Bytes& results) {
        if (!results.empty()) std::memcpy(op.reply.block.pos, results.data(), results.size());
        op.reply.block.count = static_cast<uint32_t>(results.size());
        op.reply.data = MbufCursor{static_cast<uint32_t>(results.size()), 0, op.reply.block.pos};
    }
};

TEST_F(Messages, PcnfsdRequestsOnTheWire) {
    int32_t minusOnes[3] = {-1, -1, -1};
    int32_t* ids = minusOnes;
    struct Case { const char* what; uint32_t kind; uint32_t count; std::string names; Bytes want; bool groupForm; };
    Bytes alicebob = words({0});
    for (const char* n : {"alice", "bob"}) {
        put(alicebob, 1);
        put(alicebob, MapUserNameToUid);
        put(alicebob, 0xFFFFFFFF);
        putString(alicebob, n);
    }
    put(alicebob, 0);
    Bytes walk = words({0}), groupWalk = words({0});
    for (const char* n : {"a", "", ""}) {
        for (uint32_t w : {1u, uint32_t{MapGroupNameToGid}, 0xFFFFFFFFu}) put(walk, w);
        putString(walk, n);
    }
    put(walk, 0);
    for (const char* n : {"a", "", "c"}) {
        for (uint32_t w : {1u, uint32_t{MapGroupNameToGid}, 0u}) put(groupWalk, w);
        putString(groupWalk, n);
    }
    put(groupWalk, 0);
    const Case cases[] = {
        {"count 0", MapUserNameToUid, 0, std::string("\0", 1), words({0, 0}), false},
        {"alice and bob", MapUserNameToUid, 2, std::string("alice\0bob\0", 10), alicebob, false},
        {"an empty name stops the walk", MapGroupNameToGid, 3, std::string("a\0\0c\0", 5), walk, false},
        {"the group-name writer walks past empty names", 0, 3, std::string("a\0\0c\0", 5), groupWalk, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int rc = c.groupForm ? BuildPcnfsdReqGroupNames(&op, c.count, c.names.data())
                                   : BuildPcnfsdRequest(&op, c.kind, c.count, c.names.data(), &ids);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(request(), c.want);
    }
    int32_t uids[2] = {0, 4242};
    ASSERT_EQ(BuildPcnfsdReqGidOrUid(&op, MapUidToName, 2, uids), 0);
    EXPECT_EQ(request(), words({0, 1, 0, 0, 0, 1, 0, 4242, 0, 0}));
}

TEST_F(Messages, PcnfsdRequestThatDoesNotFitIsRefused) {
    std::string names;
    for (int i = 0; i < 300; ++i) names += std::string(250, 'n') + '\0';
    std::vector<int32_t> idv(300, -1);
    int32_t* ids = idv.data();
    EXPECT_EQ(BuildPcnfsdRequest(&op, MapUserNameToUid, 300, names.data(), &ids), -2);
}

TEST_F(Messages, PcnfsdResultReader) {
    struct Case {
        const char* what;
        uint32_t kind;
        std::vector<int32_t> ids;  // asked (id-to-name) or preset (name-to-id)
        Bytes results;
        std::vector<std::string> wantNames;
        std::vector<int32_t> wantIds;
        int rc = 0;
    };
    Bytes full;
    putString(full, "a comment");
    item(full, MapUidToName, 0, 1001, "alice");
    item(full, MapUidToName, 1, 0, "");
    put(full, 0);
    Bytes early;
    putString(early, "");
    item(early, MapUidToName, 0, 1001, "alice");
    put(early, 0);
    Bytes longName;
    putString(longName, "");
    item(longName, MapGidToName, 0, 7, std::string(300, 'L'));
    item(longName, MapGidToName, 0, 8, "after");
    put(longName, 0);
    Bytes truncated;
    putString(truncated, "");
    item(truncated, MapUserNameToUid, 0, 1001, "alice");
    put(truncated, 1);  // half of the next item: more, kind, and no more
    put(truncated, MapUserNameToUid);
    // Items of the other direction answer nothing; names end at a NUL.
    Bytes wrongKind;
    putString(wrongKind, "");
    item(wrongKind, MapUidToName, 0, 1001, "alice");
    item(wrongKind, MapUserNameToUid, 0, 1002, "bob");
    put(wrongKind, 0);
    Bytes nul;
    putString(nul, "");
    item(nul, MapUidToName, 0, 1, std::string("ro\0ot", 5));
    item(nul, MapUidToName, 0, 2, std::string("\0x", 2));
    put(nul, 0);
    Bytes toIds;
    putString(toIds, "");
    item(toIds, MapUserNameToUid, 0, 1001, "alice");
    item(toIds, MapUserNameToUid, 1, -1, "nosuch");
    put(toIds, 0);
    const Case cases[] = {
        {"empty name becomes the decimal id", MapUidToName, {1001, 0}, full, {"alice", "0"}, {}},
        {"list ends early: asked ids in decimal", MapUidToName, {1001, 5, -1}, early, {"alice", "5", "-1"}, {}},
        {"over-long name cut to 255", MapGidToName, {7, 8}, longName, {std::string(255, 'L'), "after"}, {}},
        {"names to ids", MapUserNameToUid, {-1, -1}, toIds, {}, {1001, -1}},
        {"truncated mid-item: the rest stays unknown", MapUserNameToUid, {-1, -1}, truncated, {}, {1001, -1}, 1728},
        {"count 0 reads the comment only", MapUidToName, {}, words({0}), {}, {}},
        {"a name-to-id item answers no id-to-name question", MapUidToName, {7, 8}, wrongKind, {"alice", "8"}, {}},
        {"an id-to-name item answers no name-to-id question", MapUserNameToUid, {-1, -1}, wrongKind, {}, {-1, 1002}},
        {"a name ends at its NUL", MapUidToName, {1, 2}, nul, {"ro", "2"}, {}},
        {"no comment: unreadable", MapUidToName, {4}, {}, {"4"}, {}, 1728},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reply(c.results);
        NameArea area(c.ids.size());
        std::vector<int32_t> ids = c.ids;
        int32_t* p = ids.data();
        ASSERT_EQ(BuildPcnfsdResult(&op, c.kind, static_cast<uint32_t>(c.ids.size()), area.data(), &p), c.rc);
        EXPECT_TRUE(area.guardIntact());
        if (!c.wantNames.empty()) {
            EXPECT_EQ(area.names(c.wantNames.size()), c.wantNames);
        }
        if (!c.wantIds.empty()) {
            EXPECT_EQ(ids, c.wantIds);
        }
    }
}

#ifndef QELRPC_TEST_SHARED_LIBRARY
TEST_F(Messages, PcnfsdRawReaders) {
    Bytes one;
    putString(one, "");
    item(one, MapUidToName, 1, 0, "");
    put(one, 0);
    NameArea area(3);
    ASSERT_EQ(readPcnfsdResponseGidOrUid(windowOver(one), 3, area.data()), 0);
    EXPECT_EQ(area.names(1), std::vector<std::string>{"Nobody"});
    EXPECT_EQ(area.bytes[7], 'Z');  // the list ended: nothing more written
    EXPECT_TRUE(area.guardIntact());

    Bytes groups;
    putString(groups, "");
    item(groups, MapGroupNameToGid, 0, 100, "users");
    item(groups, MapGroupNameToGid, 1, 12345, "nosuch");
    item(groups, MapGroupNameToGid, 0, 27, "sudo");
    int32_t g[4] = {5, 5, 5, 5};
    int32_t* slots[4] = {&g[0], &g[1], &g[2], &g[3]};
    // Three items and no end marker: the last more word read was 1.
    EXPECT_EQ(readPcnfsdResponseGroupNames(windowOver(groups), 3, slots), 1);
    EXPECT_EQ(std::vector<int32_t>(g, g + 3), (std::vector<int32_t>{100, -1, 27}));
    put(groups, 0);
    EXPECT_EQ(readPcnfsdResponseGroupNames(windowOver(groups), 4, slots), 0);
    EXPECT_EQ(g[3], -1);
}
#endif

TEST_F(Messages, QelnfsdRequestsOnTheWire) {
    int32_t ids[2] = {100, 200};
    ASSERT_EQ(BuildQelnfsdReqGidOrUid(&op, 2, ids), 0);
    EXPECT_EQ(request(), words({2, 100, 200}));
    ASSERT_EQ(BuildQelnfsdReqGidOrUid(&op, 0, nullptr), 0);
    EXPECT_EQ(request(), words({0}));
    ASSERT_EQ(BuildQelnfsdReqGroupNames(&op, 0, "x"), 0);
    EXPECT_TRUE(request().empty());
    ASSERT_EQ(BuildQelnfsdReqUidsFromUNames(&op, 2, std::string("ann\0\0", 5).data()), 0);
    Bytes want;
    putString(want, "ann");
    putString(want, "");
    EXPECT_EQ(request(), want);
}

TEST_F(Messages, QelnfsdReaders) {
#ifndef QELRPC_TEST_SHARED_LIBRARY
    struct Case { const char* what; Bytes results; uint32_t count; int want; std::vector<std::string> names; };
    Bytes two, firstEmpty, longName, truncated;
    putString(two, "staff");
    putString(two, "users");
    putString(firstEmpty, "");
    putString(firstEmpty, "users");
    putString(longName, std::string(400, 'q'));
    putString(longName, "b");
    putString(truncated, "staff");
    put(truncated, 40);  // a length with no bytes behind it
    const Case cases[] = {
        {"two names", two, 2, 2, {"staff", "users"}},
        {"first name empty: nothing written", firstEmpty, 2, 0, {}},
        {"over-long name cut to 255", longName, 2, 2, {std::string(255, 'q'), "b"}},
        {"truncated: unreadable", truncated, 2, 1728, {"staff"}},
        {"a name ends at its NUL", [] {
             Bytes b;
             putString(b, std::string("st\0aff", 6));
             putString(b, "users");
             return b;
         }(), 2, 2, {"st", "users"}},
        {"fewer names than asked, no empty name to end them: unreadable", two, 3, 1728, {"staff", "users"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes r = c.results;
        NameArea area(c.count);
        EXPECT_EQ(readQelnfsdResponseGidOrUid(windowOver(r), c.count, area.data()), c.want);
        EXPECT_TRUE(area.guardIntact());
        if (c.names.empty()) {
            EXPECT_EQ(area.bytes[0], 'Z');
        } else {
            EXPECT_EQ(area.names(c.names.size()), c.names);
        }
    }

    Bytes pairs = words({0, 1000, 1, 0xFFFFFFFF, 0, 27});
    int32_t g[4] = {5, 5, 5, 5};
    int32_t* slots[4] = {&g[0], &g[1], &g[2], &g[3]};
    EXPECT_EQ(readQelnfsdResponseGroupNames(windowOver(pairs), 4, slots), 1728);  // the fourth pair is missing
    EXPECT_EQ(std::vector<int32_t>(g, g + 4), (std::vector<int32_t>{1000, -1, 27, -1}));
    EXPECT_EQ(readQelnfsdResponseGroupNames(windowOver(pairs), 3, slots), 0);
#endif

    reply(words({0, 1001, 1}));  // the second pair is cut short
    int32_t uids[2] = {9, 9};
    EXPECT_EQ(BuildQelnfsdResponseUidsFromUNames(&op, 2, uids), -2);
    EXPECT_EQ(uids[0], 1001);
    EXPECT_EQ(uids[1], -1);
}

TEST_F(Messages, BarePointerReadersStayInsideTheLastReply) {
    Bytes results;
    putString(results, "staff");
    reply(results);
    lastreply::note(op.reply);
    NameArea area(1);
    EXPECT_EQ(BuildQelnfsdResponseGidOrUid(op.reply.block.pos, 1, area.data()), 1);
    EXPECT_EQ(area.names(1), std::vector<std::string>{"staff"});
    // A pointer that is not inside the last reply reads nothing, and says
    // so: every bare-pointer reader reports 1728, never "no names".
    Bytes elsewhere = results;
    NameArea none(1);
    EXPECT_EQ(BuildQelnfsdResponseGidOrUid(elsewhere.data(), 1, none.data()), 1728);
    EXPECT_EQ(BuildPcnfsdResponseGidOrUid(elsewhere.data(), 1, none.data()), 1728);
    EXPECT_EQ(none.bytes[0], 'Z');
    int32_t g = 5;
    int32_t* slots[1] = {&g};
    EXPECT_EQ(BuildPcnfsdResponseGroupNames(elsewhere.data(), 1, slots), 1728);
    EXPECT_EQ(BuildQelnfsdResponseGroupNames(elsewhere.data(), 1, slots), 1728);
    EXPECT_EQ(g, -1);
    // A pointer near the end of the reply reads only what is left.
    NameArea tail(1);
    EXPECT_EQ(BuildQelnfsdResponseGidOrUid(op.reply.block.pos + 8, 1, tail.data()), 1728);
    EXPECT_EQ(tail.bytes[0], 'Z');
}

TEST(NfsUserValues, InitValuesSetsMinusOne) {
    int32_t v[3] = {1, 2, 3};
    EXPECT_EQ(NFSDInitValues(2, v), 0);
    EXPECT_EQ(v[0], -1);
    EXPECT_EQ(v[1], -1);
    EXPECT_EQ(v[2], 3);
    EXPECT_EQ(NFSDInitValues(0, nullptr), 0);
}

}  // namespace
