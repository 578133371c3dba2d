// SPDX-License-Identifier: MIT
// The RPCSEC_GSS credential writer and message protection over a scripted
// GSS-API back end: header layouts, the sequence number's advance, the MIC's
// coverage, failures of the back end, and the protected body forms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "auth/gss_api.h"
#include "auth/gss_providers.h"
#include "fake_peer.h"
#include "platform/heap.h"
#include "qelrpc.h"
#include "xdr/wire.h"

namespace {

using namespace qelrpc::gss;
using qelrpc::wire::loadWord;
using Bytes = std::vector<uint8_t>;

// What the scripted back end answers and what it was given.
struct Script {
    OM_uint32 micMajor = 0;
    size_t micLength = 37;
    OM_uint32 verifyMajor = 0;
    OM_uint32 wrapMajor = 0;
    Bytes lastMicInput;
    Bytes lastWrapInput;
    int released = 0;
} g;

int g_context = 0;  // its address is the scripted context
RpcGssContext context() { return &g_context; }

void fill(gss_buffer_t out, const Bytes& bytes) {
    out->length = bytes.size();
    out->value = std::malloc(bytes.size() + 1);
    if (!bytes.empty()) std::memcpy(out->value, bytes.data(), bytes.size());
}
Bytes bytesOf(gss_buffer_t b) {
    const auto* p = static_cast<const uint8_t*>(b->value);
    return Bytes(p, p + b->length);
}

OM_uint32 QELRPC_GSS_CALL getMic(OM_uint32*, gss_ctx_id_t, gss_qop_t, gss_buffer_t msg, gss_buffer_t token) {
    g.lastMicInput = bytesOf(msg);
    if (g.micMajor != 0) return g.micMajor;
    fill(token, Bytes(g.micLength, 0xAB));
    return 0;
}
OM_uint32 QELRPC_GSS_CALL verifyMic(OM_uint32*, gss_ctx_id_t, gss_buffer_t, gss_buffer_t, gss_qop_t*) {
    return g.verifyMajor;
}
// Sealing prefixes "SEAL"; unsealing takes it off again.
OM_uint32 QELRPC_GSS_CALL wrap(OM_uint32*, gss_ctx_id_t, int, gss_qop_t, gss_buffer_t in, int* conf, gss_buffer_t out) {
    g.lastWrapInput = bytesOf(in);
    if (g.wrapMajor != 0) return g.wrapMajor;
    Bytes b{'S', 'E', 'A', 'L'};
    const Bytes i = bytesOf(in);
    b.insert(b.end(), i.begin(), i.end());
    fill(out, b);
    *conf = 1;
    return 0;
}
OM_uint32 QELRPC_GSS_CALL unwrap(OM_uint32*, gss_ctx_id_t, gss_buffer_t in, gss_buffer_t out, int*, gss_qop_t*) {
    const Bytes i = bytesOf(in);
    if (i.size() < 4 || std::memcmp(i.data(), "SEAL", 4) != 0) return kFailure;
    fill(out, Bytes(i.begin() + 4, i.end()));
    return 0;
}
OM_uint32 QELRPC_GSS_CALL releaseBuffer(OM_uint32*, gss_buffer_t b) {
    std::free(b->value);
    b->value = nullptr;
    b->length = 0;
    ++g.released;
    return 0;
}
OM_uint32 QELRPC_GSS_CALL deleteContext(OM_uint32*, gss_ctx_id_t* c, gss_buffer_t) {
    *c = nullptr;
    return 0;
}

class GssScripted : public ::testing::Test {
  protected:
    void SetUp() override {
        g = Script{};
        EntryPoints t{};
        t.getMic = getMic;
        t.verifyMic = verifyMic;
        t.wrap = wrap;
        t.unwrap = unwrap;
        t.releaseBuffer = releaseBuffer;
        t.deleteSecContext = deleteContext;
        useTableForTesting(&t);
        ASSERT_EQ(rpcInitOperationEx(&op_, "srv1", 0xFFFFFFFFu), 0);
        op_.prog = 100003;
        op_.vers = 3;
    }
    void TearDown() override {
        rpcCloseOperation(&op_);
        qelrpc::auth::unloadGssProviders();
        qelrpc::auth::loadGssProviders();
    }
    AuthGssCred& cred() { return *static_cast<AuthGssCred*>(op_.auth->body); }
    // Puts the credential into the established state with a handle.
    void establish(uint32_t handleLength) {
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_INTEGRITY), 1);
        cred().handle = static_cast<uint8_t*>(xdrutil_malloc(handleLength));
        for (uint32_t i = 0; i < handleLength; ++i) cred().handle[i] = static_cast<uint8_t>(0xC0 + i);
        cred().handleLength = handleLength;
        cred().context = context();
        cred().gssProc = RPCSEC_GSS_PROC_DATA;
    }
    uint32_t word(uint32_t offset) const { return loadWord(op_.request.block.pos + offset); }
    RpcOperation op_{};
};

TEST_F(GssScripted, PrincipalFromServiceAndHost) {
    struct Case {
        const char* service;
        const char* principal;
    } cases[] = {{"nfs", "nfs@srv1"}, {"nfs@srv2", "nfs@srv2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.service);
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, c.service, 2), 1);
        EXPECT_STREQ(cred().principal, c.principal);
        EXPECT_EQ(op_.auth->credLength, 20u);
        rpcCloseOperation(&op_);
        ASSERT_EQ(rpcInitOperationEx(&op_, "srv1", 0xFFFFFFFFu), 0);
    }
    // Without a host name the service name cannot be completed.
    RpcOperation bare;
    ASSERT_EQ(rpcInitOperationEx(&bare, nullptr, 0xFFFFFFFFu), 0);
    EXPECT_EQ(rpcCreateAuthRPCSEC_GSS(&bare, "nfs", 1), 0);
    EXPECT_EQ(bare.auth, nullptr);
    EXPECT_EQ(rpcCreateAuthRPCSEC_GSS(&bare, "nfs@srv2", 1), 1);
    rpcCloseOperation(&bare);
}

TEST_F(GssScripted, NoMemoryLeavesNoCredential) {
    // The RpcAuth, the RPCSEC_GSS record, then the principal's text: a
    // create that runs out at any of them holds nothing (the leak check of
    // the sanitizer builds sees any block kept).
    for (long successes : {0L, 1L, 2L}) {
        SCOPED_TRACE(successes);
        qelrpc::heap::failAfter(successes);
        EXPECT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_INTEGRITY), 0);
        qelrpc::heap::failAfter(-1);
        EXPECT_EQ(op_.auth, nullptr);
    }
    ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_INTEGRITY), 1);
    EXPECT_STREQ(cred().principal, "nfs@srv1");
}

TEST_F(GssScripted, FreshCredentialSendsInitWithANullVerifier) {
    ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", 3), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op_, 0), 0);
    EXPECT_EQ(op_.request.header.count, 64u);
    EXPECT_EQ(word(28), RPC_RPCSEC_GSS);
    EXPECT_EQ(word(32), 20u);
    const uint32_t body[] = {1, RPCSEC_GSS_PROC_INIT, 0, 3, 0, 0, 0};  // then AUTH_NULL verifier
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(word(36 + 4 * i), body[i]) << i;
    EXPECT_TRUE(g.lastMicInput.empty());
    EXPECT_EQ(cred().seqNum, 0u);  // INIT calls do not take a number
}

TEST_F(GssScripted, DataHeaderCarriesHandleSequenceAndAMicOfTheHeader) {
    establish(8);
    ASSERT_EQ(rpcPrepareRPCHeader(&op_, 1), 0);
    // 44 + 28 + 40: the 37-byte MIC is padded to 40.
    EXPECT_EQ(op_.request.header.count, 112u);
    EXPECT_EQ(word(0), 112u);
    EXPECT_EQ(word(32), 28u);
    EXPECT_EQ(word(36 + 4), RPCSEC_GSS_PROC_DATA);
    EXPECT_EQ(word(36 + 8), 1u);  // the first DATA call carries 1
    EXPECT_EQ(word(36 + 16), 8u);
    EXPECT_EQ(op_.request.block.pos[56], 0xC0);
    EXPECT_EQ(word(64), RPC_RPCSEC_GSS);
    EXPECT_EQ(word(68), 37u);
    EXPECT_EQ(op_.request.block.pos[72 + 36], 0xAB);
    EXPECT_EQ(op_.request.block.pos[72 + 37], 0);  // padding
    EXPECT_EQ(op_.auth->verfLength, 40u);
    // The MIC covers the header from the xid to the credential's end, the
    // call words included.
    ASSERT_EQ(g.lastMicInput.size(), 60u);
    EXPECT_EQ(0, std::memcmp(g.lastMicInput.data(), op_.request.block.pos + 4, 60));
    EXPECT_EQ(loadWord(g.lastMicInput.data() + 12), 100003u);
}

TEST_F(GssScripted, EveryDataHeaderTakesTheNextSequenceNumber) {
    establish(4);
    for (uint32_t i = 1; i <= 4; ++i) {
        ASSERT_EQ(rpcPrepareRPCHeader(&op_, 0), 0);
        EXPECT_EQ(word(44), i);
        EXPECT_EQ(cred().seqNum, i);
    }
    // A context whose numbers ran out must be replaced (RFC 2203: MAXSEQ).
    for (uint32_t last : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
        cred().seqNum = last;
        EXPECT_EQ(rpcPrepareRPCHeader(&op_, 0), -19);
        EXPECT_EQ(cred().seqNum, last);
    }
}

TEST_F(GssScripted, AMicThatCannotBeMadeFailsTheHeader) {
    establish(4);
    struct Case {
        OM_uint32 major;
        size_t length;
        int expected;
    } cases[] = {{kFailure, 37, -7}, {kNoContext, 37, -18}, {kContextExpired, 37, -19}, {0, 401, -12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        g.micMajor = c.major;
        g.micLength = c.length;
        EXPECT_EQ(rpcPrepareRPCHeader(&op_, 0), c.expected);
        EXPECT_EQ(op_.request.header.count, 0u);
    }
}

TEST_F(GssScripted, DestroyArgumentsByService) {
    establish(4);
    op_.tcpPort = 0;
    op_.udpPort = 0;  // no exchange: CallRPC answers -1, seen as -201
    cred().service = RPCSEC_GSS_SVC_INTEGRITY;
    EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), -201);
    EXPECT_EQ(word(36 + 4), RPCSEC_GSS_PROC_DESTROY);
    const uint32_t seq = cred().seqNum;
    EXPECT_EQ(op_.request.data.count, 12u + 40u);
    EXPECT_EQ(loadWord(op_.request.data.pos - 52 + 0 + 0), 4u);
    EXPECT_EQ(loadWord(op_.request.data.pos - 52 + 4), seq);
    EXPECT_EQ(g.lastMicInput, (Bytes{0, 0, 0, static_cast<uint8_t>(seq)}));

    cred().service = RPCSEC_GSS_SVC_PRIVACY;
    EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), -201);
    EXPECT_EQ(g.lastWrapInput, (Bytes{0, 0, 0, static_cast<uint8_t>(cred().seqNum)}));
    g.wrapMajor = kFailure;
    EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), -11);

    cred().service = 4;
    EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), -8);
    EXPECT_GT(op_.request.header.count, 0u);  // the header was written first
}

TEST_F(GssScripted, ProtectedBodyForms) {
    const uint8_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t out[128];
    uint32_t n = 0;
    ASSERT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 1, 5, context()), 0);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(0, std::memcmp(out, in, 8));

    ASSERT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 2, 5, context()), 0);
    EXPECT_EQ(n, 20u + 40u);
    EXPECT_EQ(loadWord(out), 12u);
    EXPECT_EQ(loadWord(out + 4), 5u);
    EXPECT_EQ(0, std::memcmp(out + 8, in, 8));
    EXPECT_EQ(loadWord(out + 16), 37u);
    EXPECT_EQ(g.lastMicInput, (Bytes{0, 0, 0, 5, 1, 2, 3, 4, 5, 6, 7, 8}));

    // Data of a length that is not a multiple of 4 is padded before it is
    // signed: the length word, the bytes sent and the MIC agree.
    ASSERT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 5, out, &n, 2, 5, context()), 0);
    EXPECT_EQ(loadWord(out), 12u);
    EXPECT_EQ(g.lastMicInput, (Bytes{0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0}));

    ASSERT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 3, 5, context()), 0);
    EXPECT_EQ(g.lastWrapInput, (Bytes{0, 0, 0, 5, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(loadWord(out), 16u);
    EXPECT_EQ(n, 20u);
    uint8_t clear[32];
    uint32_t m = sizeof clear;
    ASSERT_EQ(MIT_RPCSEC_GSS_DecryptBuffer(out + 4, 16, context(), clear, &m), 0);
    EXPECT_EQ(m, 12u);
    m = 11;
    EXPECT_EQ(MIT_RPCSEC_GSS_DecryptBuffer(out + 4, 16, context(), clear, &m), -12);
    EXPECT_EQ(MIT_RPCSEC_GSS_DecryptBuffer(out + 5, 15, context(), clear, &m), -11);
    EXPECT_EQ(MIT_RPCSEC_GSS_DecryptBuffer(out + 4, 16, nullptr, clear, &m), -10);

    n = 77;
    EXPECT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 4, 5, context()), 0);
    EXPECT_EQ(n, 77u);  // nothing written for an unknown service

    g.micMajor = kBadQop;
    EXPECT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 2, 5, context()), -17);
    g.wrapMajor = kFailure;
    EXPECT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(in, 8, out, &n, 3, 5, context()), -9);
}

TEST_F(GssScripted, MicFunctions) {
    const uint8_t data[4] = {9, 9, 9, 9};
    uint8_t mic[64];
    uint32_t len = 36;
    EXPECT_EQ(MIT_RPCSEC_GSS_GetMIC(context(), data, 4, mic, &len), -12);
    EXPECT_EQ(len, 36u);
    len = sizeof mic;
    EXPECT_EQ(RPCSEC_GSS_GetChecksum(context(), data, 4, mic, &len), 0);
    EXPECT_EQ(len, 37u);

    struct Case {
        OM_uint32 major;
        int expected;
    } cases[] = {{0, 0}, {kDuplicateToken, 0}, {kOldToken, 0}, {kUnseqToken, 0}, {kGapToken, 0},
                 {kDuplicateToken | kUnseqToken, -6}, {kBadSig, -23}, {kNoContext, -18}, {kFailure, -6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        g.verifyMajor = c.major;
        EXPECT_EQ(MIT_RPCSEC_GSS_VerifyMIC(context(), data, 4, mic, len), c.expected);
    }
}

TEST_F(GssScripted, ReplyVerifierOfAnEstablishedContextIsChecked) {
    establish(4);
    ASSERT_EQ(rpcPrepareRPCHeader(&op_, 0), 0);
    // xid, REPLY, MSG_ACCEPTED, RPCSEC_GSS verifier of 5 bytes, SUCCESS.
    const uint8_t reply[] = {0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 5,
                             'm', 'i', 'c', '!', '!', 0, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE};
    std::memcpy(op_.reply.block.pos, reply, sizeof reply);
    op_.reply.block.count = sizeof reply;
    struct Case {
        OM_uint32 major;
        int expected;
    } cases[] = {{0, 0}, {kBadSig, -4}, {kDuplicateToken, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        g.verifyMajor = c.major;
        op_.acceptStat = 77;
        EXPECT_EQ(ProcessRPCResponse(&op_), c.expected);
        EXPECT_EQ(op_.acceptStat, c.expected == 0 ? 0u : 77u);
    }
    // During the set-up the set-up itself checks the window's MIC.
    cred().gssProc = RPCSEC_GSS_PROC_INIT;
    g.verifyMajor = kBadSig;
    EXPECT_EQ(ProcessRPCResponse(&op_), 0);
    EXPECT_EQ(op_.reply.data.count, 4u);  // the 5-byte verifier skipped as 8
}

// On an established context (DATA and DESTROY calls) the server answers
// with the MIC of the call's sequence number as an RPCSEC_GSS verifier
// (RFC 2203 section 5.3.3.2). A reply without one authenticates nobody:
// -98, results not offered. Set-up replies carry AUTH_NULL until the
// context is complete and the MIC of the window then, which the set-up
// checks itself; a verifier of any other flavor there is refused too.
TEST_F(GssScripted, AReplyWithoutTheContextsVerifierIsRefused) {
    establish(4);
    ASSERT_EQ(rpcPrepareRPCHeader(&op_, 0), 0);
    auto accepted = [](std::initializer_list<uint32_t> verifier) {
        Bytes r;
        for (uint32_t w : {9u, 1u, 0u}) {
            for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(w >> s));
        }
        for (uint32_t w : verifier) {
            for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(w >> s));
        }
        for (uint32_t w : {0u, 0xEEEEEEEEu}) {
            for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(w >> s));
        }
        return r;
    };
    const Bytes nullVerifier = accepted({RPC_AUTH_NULL, 0});
    const Bytes nullWithBody = accepted({RPC_AUTH_NULL, 4, 0x6D696321});
    const Bytes desVerifier = accepted({RPC_AUTH_DES, 12, 1, 2, 3});
    const Bytes unixVerifier = accepted({RPC_AUTH_UNIX, 0});
    const Bytes mic = accepted({RPC_RPCSEC_GSS, 4, 0x6D696321});
    struct Case {
        const char* what;
        uint32_t gssProc;
        const Bytes& reply;
        OM_uint32 verify;
        int expected;
    } cases[] = {
        {"DATA, forged AUTH_NULL", RPCSEC_GSS_PROC_DATA, nullVerifier, 0, -98},
        {"DATA, AUTH_NULL with a body", RPCSEC_GSS_PROC_DATA, nullWithBody, 0, -98},
        {"DATA, AUTH_DES", RPCSEC_GSS_PROC_DATA, desVerifier, 0, -98},
        {"DATA, AUTH_UNIX", RPCSEC_GSS_PROC_DATA, unixVerifier, 0, -98},
        {"DATA, MIC that checks", RPCSEC_GSS_PROC_DATA, mic, 0, 0},
        {"DATA, MIC that does not check", RPCSEC_GSS_PROC_DATA, mic, kBadSig, -4},
        {"DESTROY, forged AUTH_NULL", RPCSEC_GSS_PROC_DESTROY, nullVerifier, 0, -98},
        {"DESTROY, MIC that checks", RPCSEC_GSS_PROC_DESTROY, mic, 0, 0},
        {"INIT, AUTH_NULL: context not complete", RPCSEC_GSS_PROC_INIT, nullVerifier, kBadSig, 0},
        {"INIT, window MIC: checked by the set-up", RPCSEC_GSS_PROC_INIT, mic, kBadSig, 0},
        {"INIT, AUTH_DES", RPCSEC_GSS_PROC_INIT, desVerifier, 0, -98},
        {"CONTINUE_INIT (2), AUTH_NULL", 2u, nullVerifier, kBadSig, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cred().gssProc = c.gssProc;
        g.verifyMajor = c.verify;
        std::memcpy(op_.reply.block.pos, c.reply.data(), c.reply.size());
        op_.reply.block.count = static_cast<uint32_t>(c.reply.size());
        op_.acceptStat = 77;
        EXPECT_EQ(ProcessRPCResponse(&op_), c.expected);
        EXPECT_EQ(op_.acceptStat, c.expected == 0 ? 0u : 77u);
    }
}

TEST_F(GssScripted, OperationFormsNeedAnRpcsecGssRecord) {
    uint8_t buf[64];
    uint32_t n = sizeof buf;
    ASSERT_EQ(rpcCreateAuthUnix(&op_, "abc", 1, 2), 1);
    EXPECT_EQ(RPCSEC_GSS_GetMIC(&op_, buf, 4, buf, &n), -3);
    EXPECT_EQ(RPCSEC_GSS_VerifyMIC(&op_, buf, 4, buf, 4), -3);
    EXPECT_EQ(RPCSEC_GSS_EncryptBufferEx(buf, 4, buf, &n, 1, 1, &op_), -3);
    EXPECT_EQ(RPCSEC_GSS_DecryptBufferEx(buf, 4, &op_, buf, &n), -3);
    EXPECT_EQ(RPCSEC_GSS_GetErrorMessage(&op_, 0, 0), -2);
    EXPECT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), -2);
    EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), -2);
    EXPECT_EQ(RPCSEC_GSS_InitSecurityContext(nullptr), -3);
}

}  // namespace

// Context set-up against a scripted server on loopback: the INIT calls,
// the handle carried from one pass to the next, and the final check of the
// reply verifier over seq_window.

namespace {

using testpeer::Bytes;

struct SetupScript {
    int localPasses = 2;        // INIT calls before the local step completes
    int calls = 0;              // local steps made
    bool emptyFirstToken = false;
    int throws = 0;             // 1: std::bad_alloc, 2: another exception
    Bytes inputs;               // the server tokens handed in, end to end
} s;

OM_uint32 QELRPC_GSS_CALL importName(OM_uint32*, gss_buffer_t text, gss_OID type, gss_name_t* name) {
    if (type != nullptr || text->length == 0) return kFailure;
    *name = &s;
    return 0;
}
OM_uint32 QELRPC_GSS_CALL releaseName(OM_uint32*, gss_name_t* name) {
    *name = nullptr;
    return 0;
}
OM_uint32 QELRPC_GSS_CALL initSecContext(OM_uint32*, gss_cred_id_t, gss_ctx_id_t* ctx, gss_name_t, gss_OID,
                                         OM_uint32 flags, OM_uint32, gss_channel_bindings_t, gss_buffer_t in,
                                         gss_OID*, gss_buffer_t out, OM_uint32*, OM_uint32*) {
    if (flags != 6) return kFailure;
    if (s.throws == 1) throw std::bad_alloc();
    if (s.throws == 2) throw std::runtime_error("scripted");
    if (in != nullptr) {
        const Bytes b = bytesOf(in);
        s.inputs.insert(s.inputs.end(), b.begin(), b.end());
    }
    *ctx = context();
    ++s.calls;
    if (s.calls > s.localPasses) return kComplete;  // last step: nothing to send
    if (s.emptyFirstToken) return kComplete;
    fill(out, Bytes{'c', static_cast<uint8_t>('0' + s.calls)});
    return kContinueNeeded;
}
// A MIC is good when it reads "good".
OM_uint32 QELRPC_GSS_CALL verifyGood(OM_uint32*, gss_ctx_id_t, gss_buffer_t msg, gss_buffer_t token, gss_qop_t*) {
    if (bytesOf(msg) != Bytes{0, 0, 0, 128}) return kBadSig;
    return bytesOf(token) == Bytes{'g', 'o', 'o', 'd'} ? 0 : kBadSig;
}

gss_OID g_noOid = nullptr;

Bytes initReply(uint32_t xid, const char* verifier, uint32_t serverMajor, int n) {
    Bytes r = testpeer::words({xid, 1, 0, RPC_RPCSEC_GSS});
    const size_t vl = std::strlen(verifier);
    testpeer::putWord(r, static_cast<uint32_t>(vl));
    r.insert(r.end(), verifier, verifier + vl);
    while (r.size() % 4) r.push_back(0);
    testpeer::putWord(r, 0);  // SUCCESS
    testpeer::putWord(r, 6);
    for (uint8_t b : Bytes{'H', 'A', 'N', 'D', 'L', 'E', 0, 0}) r.push_back(b);
    for (uint32_t w : {serverMajor, 0u, 128u, 2u}) testpeer::putWord(r, w);
    for (uint8_t b : Bytes{'s', static_cast<uint8_t>('0' + n), 0, 0}) r.push_back(b);
    return r;
}

class GssSetup : public GssScripted {
  protected:
    void SetUp() override {
        GssScripted::SetUp();
        // The scripted server needs sockets (on Windows, started by the
        // DLL's entry point in a real caller).
        ASSERT_EQ(qelrpc::platform::startSockets(), 0);
        s = SetupScript{};
        EntryPoints t = *mit();
        t.importName = importName;
        t.releaseName = releaseName;
        t.initSecContext = initSecContext;
        t.verifyMic = verifyGood;
        t.ntServiceName = &g_noOid;
        useTableForTesting(&t);
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_NONE), 1);
    }
    // Runs the set-up against a server that answers each INIT with
    // `verifier` and `serverMajor`; the requests it saw.
    int run(const char* verifier, uint32_t serverMajor, std::vector<Bytes>& requests) {
        std::mutex m;
        testpeer::TcpPeer peer([&](int n, testpeer::Conn& c) {
            Bytes req;
            if (!c.readRecord(req)) return;
            {
                std::lock_guard<std::mutex> lock(m);
                requests.push_back(req);
            }
            c.sendFragment(initReply(testpeer::wordAt(req, 0), verifier, serverMajor, n), true);
        });
        EXPECT_TRUE(peer.ok());
        op_.hostAddr = qelrpc::platform::loopbackAddress();
        op_.tcpPort = peer.port();
        return RPCSEC_GSS_InitSecurityContext(&op_);
    }
};

TEST_F(GssSetup, TwoPassesCarryTheHandleAndEndWithTheWindowChecked) {
    std::vector<Bytes> requests;
    ASSERT_EQ(run("good", 0, requests), 0);
    EXPECT_EQ(cred().gssProc, RPCSEC_GSS_PROC_DATA);
    ASSERT_EQ(requests.size(), 2u);
    // Both are INIT calls to procedure 0 with the client's token as
    // argument; the second carries the handle of the first reply.
    for (const Bytes& r : requests) {
        EXPECT_EQ(testpeer::wordAt(r, 20), 0u);               // procedure
        EXPECT_EQ(testpeer::wordAt(r, 32 + 4), RPCSEC_GSS_PROC_INIT);
        EXPECT_EQ(testpeer::wordAt(r, 32 + 8), 0u);           // seq_num
    }
    EXPECT_EQ(testpeer::wordAt(requests[0], 32 + 16), 0u);
    EXPECT_EQ(testpeer::wordAt(requests[1], 28), 28u);        // 20 + 6 padded
    EXPECT_EQ(testpeer::wordAt(requests[1], 32 + 16), 6u);
    EXPECT_EQ(Bytes(requests[1].begin() + 52, requests[1].begin() + 58), (Bytes{'H', 'A', 'N', 'D', 'L', 'E'}));
    EXPECT_EQ(testpeer::wordAt(requests[1], 60), RPC_AUTH_NULL);
    EXPECT_EQ(Bytes(requests[1].end() - 8, requests[1].end()), (Bytes{0, 0, 0, 2, 'c', '2', 0, 0}));
    EXPECT_EQ(s.inputs, (Bytes{'s', '1', 's', '2'}));
    EXPECT_EQ(cred().handleLength, 6u);
    // The first DATA header after the set-up carries 1.
    ASSERT_EQ(rpcPrepareRPCHeader(&op_, 0), 0);
    EXPECT_EQ(word(36 + 8), 1u);
}

TEST_F(GssSetup, NoExceptionLeavesTheExport) {
    // A back end that throws stands in for any allocation failing inside
    // the set-up (its tokens are C++ vectors): the C caller gets the code,
    // never the exception.
    for (const auto& [thrown, code] : {std::pair{1, -5}, std::pair{2, -6}}) {
        SCOPED_TRACE(thrown);
        s.throws = thrown;
        EXPECT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), code);
    }
}

TEST_F(GssSetup, AFinalVerifierThatIsNoMicOfTheWindowFails) {
    std::vector<Bytes> requests;
    EXPECT_EQ(run("evil", 0, requests), -23);
    EXPECT_EQ(cred().gssProc, RPCSEC_GSS_PROC_INIT);
}

TEST_F(GssSetup, AServerGssFailureEndsTheSetUp) {
    std::vector<Bytes> requests;
    EXPECT_EQ(run("good", kFailure, requests), -6);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(cred().majorStatus, kFailure);
    EXPECT_EQ(cred().gssProc, RPCSEC_GSS_PROC_INIT);
}

TEST_F(GssSetup, AFirstStepWithoutATokenHasNothingToAuthenticate) {
    s.emptyFirstToken = true;
    std::vector<Bytes> requests;
    EXPECT_EQ(run("good", 0, requests), -6);
    EXPECT_TRUE(requests.empty());
}

TEST_F(GssSetup, ExchangeFailuresAreOffsetBy200) {
    op_.hostAddr = qelrpc::platform::loopbackAddress();
    op_.tcpPort = 0;
    op_.udpPort = 0;
    EXPECT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), -201);  // CallRPC: no ports
}

}  // namespace
