// SPDX-License-Identifier: MIT
// RPC message records: layouts, the wire words of each arm, the arm chosen
// by the discriminant, failures part-way, and that a decode (complete or
// cut anywhere) followed by the free mode leaves nothing allocated.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "qelrpc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The records keep the layout callers compiled against, 32-bit and 64-bit.
constexpr size_t P = sizeof(void*);
static_assert(offsetof(opaque_auth, body) == 8 && sizeof(opaque_auth) == 408);
static_assert(offsetof(call_body, cred) == 16 && offsetof(call_body, verf) == 424 && sizeof(call_body) == 832);
static_assert(offsetof(accepted_reply, stat) == 408 && offsetof(accepted_reply, mismatch_info) == 412);
static_assert(offsetof(rejected_reply, mismatch_info) == 4 && offsetof(rejected_reply, auth_stat) == 4);
static_assert(offsetof(reply_body, areply) == P && offsetof(reply_body, rreply) == P);
static_assert(offsetof(rpc_msg, cbody) == 8 && offsetof(rpc_msg, rbody) == 8);
static_assert(offsetof(netobj, bytes) == P && sizeof(mapping) == 16);

Bytes words(std::initializer_list<uint32_t> ws) {
    Bytes b;
    for (uint32_t w : ws)
        for (int sh = 24; sh >= 0; sh -= 8) b.push_back(static_cast<uint8_t>(w >> sh));
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Reader {
    Bytes bytes;
    MbufCursor c;
    explicit Reader(Bytes b) : bytes(std::move(b)) {
        bytes.reserve(bytes.size() + 1);
        c = MbufCursor{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()), bytes.data()};
    }
    uint32_t consumed() const { return static_cast<uint32_t>(c.pos - bytes.data()); }
};

struct Writer {
    Bytes bytes = Bytes(4096, 0xEE);
    MbufCursor c{0, 4096, bytes.data()};
    Bytes written() const { return Bytes(bytes.begin(), bytes.begin() + c.count); }
};

opaque_auth auth(uint32_t flavor, const char* body) {
    opaque_auth a{};
    a.flavor = flavor;
    a.length = static_cast<uint32_t>(std::strlen(body));
    a.body.base = reinterpret_cast<uint8_t*>(const_cast<char*>(body));
    return a;
}

TEST(XdrRpcMsg, CallBodyWithNullCredentialsIsEightWords) {
    call_body c{};
    c.rpcvers = 2;
    c.prog = 100000;
    c.vers = 2;
    c.proc = 3;
    Writer w;
    ASSERT_EQ(xdr_call_body(&w.c, XDR_OP_ENCODE, &c), 1);
    EXPECT_EQ(w.written(), words({2, 100000, 2, 3, 0, 0, 0, 0}));
}

TEST(XdrRpcMsg, WholeMessagesRoundTrip) {
    // One message per arm; each encodes to the given words and decodes back.
    rpc_msg call{};
    call.xid = 7;
    call.mtype = 0;
    call.cbody = call_body{2, 100003, 3, 1, auth(1, "cred!"), auth(0, "")};
    rpc_msg accepted{};
    accepted.xid = 8;
    accepted.mtype = 1;
    accepted.rbody.stat = 0;
    accepted.rbody.areply.verf = auth(6, "verf");
    accepted.rbody.areply.stat = 2;
    accepted.rbody.areply.mismatch_info = {2, 4};
    rpc_msg mismatch{};
    mismatch.xid = 9;
    mismatch.mtype = 1;
    mismatch.rbody.stat = 1;
    mismatch.rbody.rreply.stat = 0;
    mismatch.rbody.rreply.mismatch_info = {2, 2};
    rpc_msg authError{};
    authError.xid = 10;
    authError.mtype = 1;
    authError.rbody.stat = 1;
    authError.rbody.rreply.stat = 1;
    authError.rbody.rreply.auth_stat = 5;

    struct Case { const char* what; rpc_msg* msg; Bytes want; };
    const Case cases[] = {
        {"call", &call, cat({words({7, 0, 2, 100003, 3, 1, 1, 5}), {'c', 'r', 'e', 'd', '!', 0, 0, 0}, words({0, 0})})},
        {"accepted, program mismatch", &accepted, cat({words({8, 1, 0, 6, 4}), {'v', 'e', 'r', 'f'}, words({2, 2, 4})})},
        {"denied, RPC mismatch", &mismatch, words({9, 1, 1, 0, 2, 2})},
        {"denied, auth error", &authError, words({10, 1, 1, 1, 5})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Writer w;
        ASSERT_EQ(xdr_rpc_msg(&w.c, XDR_OP_ENCODE, c.msg), 1);
        ASSERT_EQ(w.written(), c.want);

        Reader r(c.want);
        rpc_msg got{};
        ASSERT_EQ(xdr_rpc_msg(&r.c, XDR_OP_DECODE, &got), 1);
        EXPECT_EQ(r.c.count, 0u);
        Writer again;
        ASSERT_EQ(xdr_rpc_msg(&again.c, XDR_OP_ENCODE, &got), 1);
        EXPECT_EQ(again.written(), c.want);
        EXPECT_EQ(xdr_rpc_msg(nullptr, XDR_OP_FREE, &got), 1);
    }
}

TEST(XdrRpcMsg, FreeReleasesBothBodiesAndLeavesThemNull) {
    Reader r(cat({words({1, 0, 2, 1, 1, 1, 1, 3}), {'a', 'b', 'c', 0}, words({3, 2}), {'x', 'y', 0, 0}}));
    rpc_msg m{};
    ASSERT_EQ(xdr_rpc_msg(&r.c, XDR_OP_DECODE, &m), 1);
    ASSERT_NE(m.cbody.cred.body.base, nullptr);
    ASSERT_NE(m.cbody.verf.body.base, nullptr);
    EXPECT_EQ(0, std::memcmp(m.cbody.cred.body.base, "abc", 3));
    EXPECT_EQ(xdr_rpc_msg(nullptr, XDR_OP_FREE, &m), 1);
    EXPECT_EQ(m.cbody.cred.body.base, nullptr);
    EXPECT_EQ(m.cbody.verf.body.base, nullptr);
}

TEST(XdrRpcMsg, DiscriminantsPickTheArmAndUnknownOnesFail) {
    struct Case {
        const char* what;
        int (*run)(MbufCursor*);
        Bytes in;
        int want;
        uint32_t consumed;
    };
    auto msg = [](MbufCursor* s) { rpc_msg m{}; int r = xdr_rpc_msg(s, XDR_OP_DECODE, &m); xdr_rpc_msg(nullptr, XDR_OP_FREE, &m); return r; };
    auto rej = [](MbufCursor* s) { rejected_reply m{}; return xdr_rejected_reply(s, XDR_OP_DECODE, &m); };
    auto acc = [](MbufCursor* s) { accepted_reply m{}; int r = xdr_accepted_reply(s, XDR_OP_DECODE, &m); xdr_accepted_reply(nullptr, XDR_OP_FREE, &m); return r; };
    auto body = [](MbufCursor* s) { reply_body m{}; int r = xdr_reply_body(s, XDR_OP_DECODE, &m); xdr_reply_body(nullptr, XDR_OP_FREE, &m); return r; };
    const Case cases[] = {
        {"message type 2 fails after two words", msg, words({1, 2, 0, 0}), 0, 8},
        {"rejected, auth error: one more word", rej, words({1, 13, 99}), 1, 8},
        {"rejected, RPC mismatch: two more words", rej, words({0, 2, 3, 99}), 1, 12},
        {"rejected, status 2 fails", rej, words({2, 0, 0}), 0, 4},
        {"accepted, success: results stay", acc, words({0, 0, 0, 42, 43}), 1, 12},
        {"accepted, program mismatch: versions", acc, words({0, 0, 2, 1, 3, 42}), 1, 20},
        {"accepted, system error: nothing more", acc, words({0, 0, 5, 42}), 1, 12},
        {"reply status 2 fails", body, words({2, 0}), 0, 4},
        {"accepted reply cut in the verifier", body, words({0, 1, 8, 0}), 0, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reader r(c.in);
        EXPECT_EQ(c.run(&r.c), c.want);
        EXPECT_EQ(r.consumed(), c.consumed);
    }
}

TEST(XdrRpcMsg, BodyLengthLimits) {
    struct Case { const char* what; uint32_t length; bool netobj; int want; };
    const Case cases[] = {
        {"auth body of 400", 400, false, 1},
        {"auth body of 401", 401, false, 0},
        {"netobj of 1024", 1024, true, 1},
        {"netobj of 1025", 1025, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = c.netobj ? words({c.length}) : words({1, c.length});
        in.resize(in.size() + ((c.length + 3) & ~3u), 'z');
        Reader r(in);
        int got;
        if (c.netobj) {
            netobj o{};
            got = xdr_rpc_netobj(&r.c, XDR_OP_DECODE, &o);
            EXPECT_EQ(o.length, c.length);
            EXPECT_EQ(xdr_rpc_netobj(nullptr, XDR_OP_FREE, &o), 1);
        } else {
            opaque_auth a{};
            got = xdr_opaque_auth(&r.c, XDR_OP_DECODE, &a);
            EXPECT_EQ(a.length, c.length);
            if (!got) {
                EXPECT_EQ(a.body.base, nullptr);
            }
            EXPECT_EQ(xdr_opaque_auth(nullptr, XDR_OP_FREE, &a), 1);
        }
        EXPECT_EQ(got, c.want);
        // A refused length fails after its word was consumed.
        EXPECT_EQ(r.consumed(), got ? in.size() : in.size() - ((c.length + 3) & ~3u));
    }
}

TEST(XdrRpcMsg, EmptyAuthBodyLeavesThePointerAsItWas) {
    uint8_t mine[4];
    opaque_auth a{};
    a.body.base = mine;
    Reader r(words({3, 0}));
    ASSERT_EQ(xdr_opaque_auth(&r.c, XDR_OP_DECODE, &a), 1);
    EXPECT_EQ(a.flavor, 3u);
    EXPECT_EQ(a.length, 0u);
    EXPECT_EQ(a.body.base, mine);
    EXPECT_EQ(xdr_opaque_auth(nullptr, XDR_OP_FREE, &a), 1);
    EXPECT_EQ(a.body.base, mine);
}

TEST(XdrRpcMsg, MappingAndMismatchAreWordsInOrder) {
    mapping m{100003, 3, 6, 2049};
    mismatch_info v{2, 4};
    Writer w;
    ASSERT_EQ(xdr_mapping(&w.c, XDR_OP_ENCODE, &m), 1);
    ASSERT_EQ(xdr_mismatch_info(&w.c, XDR_OP_ENCODE, &v), 1);
    EXPECT_EQ(w.written(), words({100003, 3, 6, 2049, 2, 4}));
    Reader r(w.written());
    mapping m2{};
    mismatch_info v2{};
    ASSERT_EQ(xdr_mapping(&r.c, XDR_OP_DECODE, &m2), 1);
    ASSERT_EQ(xdr_mismatch_info(&r.c, XDR_OP_DECODE, &v2), 1);
    EXPECT_EQ(std::memcmp(&m, &m2, sizeof m), 0);
    EXPECT_EQ(v2.high, 4u);
    EXPECT_EQ(xdr_mapping(nullptr, 3, &m2), 0);
    EXPECT_EQ(xdr_call_body(nullptr, XDR_OP_ENCODE, nullptr), 0);
}

TEST(XdrRpcMsg, EveryTruncationFailsAndFreesCleanly) {
    // A call with bodies in both credential and verifier, and a denied and
    // an accepted reply: each cut at every word fails, and the free releases
    // whatever the partial decode allocated (LeakSanitizer checks).
    const Bytes messages[] = {
        cat({words({1, 0, 2, 100003, 3, 1, 1, 6}), {'m', 'a', 'c', 'h', 'n', 'e', 0, 0}, words({6, 3}),
             {'v', 'v', 'v', 0}}),
        cat({words({2, 1, 0, 6, 8}), {'v', 'e', 'r', 'i', 'f', 'i', 'e', 'r'}, words({2, 1, 3})}),
        words({3, 1, 1, 0, 2, 2}),
    };
    for (const Bytes& full : messages) {
        for (size_t cut = 0; cut <= full.size(); ++cut) {
            SCOPED_TRACE(cut);
            Reader r(Bytes(full.begin(), full.begin() + static_cast<ptrdiff_t>(cut)));
            rpc_msg m{};
            EXPECT_EQ(xdr_rpc_msg(&r.c, XDR_OP_DECODE, &m), cut == full.size() ? 1 : 0);
            xdr_rpc_msg(nullptr, XDR_OP_FREE, &m);
            if (m.mtype == 0) {
                EXPECT_EQ(m.cbody.cred.body.base, nullptr);
                EXPECT_EQ(m.cbody.verf.body.base, nullptr);
            } else if (m.rbody.stat == 0) {
                EXPECT_EQ(m.rbody.areply.verf.body.base, nullptr);
            }
        }
    }
}

}  // namespace
