// SPDX-License-Identifier: MIT
// The reply check, the call driver's choices that need no network, the
// portmapper question's bytes and the connect-mode switch.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "qelrpc.h"
#ifndef QELRPC_TEST_SHARED_LIBRARY
#include "rpc/received_reply.h"
#endif

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> ws) {
    std::vector<uint8_t> b;
    for (uint32_t w : ws) {
        b.push_back(static_cast<uint8_t>(w >> 24));
        b.push_back(static_cast<uint8_t>(w >> 16));
        b.push_back(static_cast<uint8_t>(w >> 8));
        b.push_back(static_cast<uint8_t>(w));
    }
    return b;
}

class ReplyCheck : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override { ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0); }
    void TearDown() override { rpcCloseOperation(&op); }

    // Puts a reply into the operation's reply block as an exchange would.
    void receive(const std::vector<uint8_t>& bytes) {
        std::memcpy(op.reply.block.pos, bytes.data(), bytes.size());
        op.reply.block.count = static_cast<uint32_t>(bytes.size());
    }
    void presetStatusWords() {
        op.rejectStat = 77;
        op.authStat = 77;
        op.acceptStat = 77;
    }
};

TEST_F(ReplyCheck, SuccessOpensTheDataWindowOnTheResults) {
    // xid 0 (not the call's: replies are not matched here), REPLY, ACCEPTED,
    // AUTH_NULL verifier of length 0, SUCCESS, then two result words.
    receive(words({0, 1, 0, 0, 0, 0, 0xCAFE, 0xBEEF}));
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    EXPECT_EQ(op.acceptStat, 0u);
    EXPECT_EQ(op.reply.header.pos, op.reply.block.pos);
    EXPECT_EQ(op.reply.header.count, 32u);
    EXPECT_EQ(op.reply.data.pos, op.reply.block.pos + 24);
    EXPECT_EQ(op.reply.data.count, 8u);
#ifndef QELRPC_TEST_SHARED_LIBRARY
    // Readers handed a bare pointer into the results are bounded by them.
    EXPECT_EQ(qelrpc::received::windowAt(op.reply.data.pos).count, 8u);
#endif
    uint32_t v = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &v), 0);
    EXPECT_EQ(v, 0xCAFEu);
}

TEST_F(ReplyCheck, OutcomesAndStatusWords) {
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        int result;
        uint32_t rejectStat, authStat, acceptStat;  // 77 = left as it was
    };
    const Case cases[] = {
        {"CALL instead of REPLY", words({5, 0, 0, 0, 0, 0}), -2, 77, 77, 77},
        {"RPC_MISMATCH leaves authStat", words({5, 1, 1, 0, 2, 2}), -3, 0, 77, 77},
        {"AUTH_ERROR AUTH_REJECTEDCRED", words({5, 1, 1, 1, 2}), -4, 1, 2, 77},
        {"unknown reject_stat", words({5, 1, 1, 7, 2}), -99, 7, 0, 77},
        {"reply_stat other than 0 is a denial", words({5, 1, 9, 1, 5}), -4, 1, 5, 77},
        {"PROG_UNAVAIL", words({5, 1, 0, 0, 0, 1}), -5, 77, 77, 1},
        {"PROG_MISMATCH", words({5, 1, 0, 0, 0, 2, 1, 3}), -6, 77, 77, 2},
        {"PROC_UNAVAIL", words({5, 1, 0, 0, 0, 3}), -7, 77, 77, 3},
        {"GARBAGE_ARGS", words({5, 1, 0, 0, 0, 4}), -8, 77, 77, 4},
        {"SYSTEM_ERR", words({5, 1, 0, 0, 0, 5}), -9, 77, 77, 5},
        {"accept_stat 40", words({5, 1, 0, 0, 0, 40}), -44, 77, 77, 40},
        {"accept_stat too large for -4 - n", words({5, 1, 0, 0, 0, 0xFFFFFFFF}), -99, 77, 77, 0xFFFFFFFF},
        {"AUTH_UNIX verifier", words({5, 1, 0, 1, 0, 0}), -99, 77, 77, 77},
        {"RPCSEC_GSS verifier of length 5 is skipped as 8",
         words({5, 1, 0, 6, 5, 0x11111111, 0x22000000, 0}), 0, 77, 77, 0},
        // No AUTH_DES credential is attached, so no AUTH_DES verifier matches.
        {"AUTH_DES verifier that fails its check", words({5, 1, 0, 3, 12, 1, 2, 9, 0}), -4, 77, 77, 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        presetStatusWords();
        receive(c.reply);
        EXPECT_EQ(ProcessRPCResponse(&op), c.result);
        EXPECT_EQ(op.rejectStat, c.rejectStat);
        EXPECT_EQ(op.authStat, c.authStat);
        EXPECT_EQ(op.acceptStat, c.acceptStat);
    }
}

// RFC 5531 lets any verifier carry a body, AUTH_NULL's included: it is
// skipped by its length, up to the 400 bytes an opaque_auth may hold.
TEST_F(ReplyCheck, AVerifierBodyIsSkippedByItsLengthWhateverTheFlavor) {
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        int result;
        uint32_t acceptStat;
    };
    const Case cases[] = {
        {"AUTH_NULL with a 4-byte body", words({5, 1, 0, 0, 4, 3, 0, 0xCAFE}), 0, 0},
        {"AUTH_NULL with a 5-byte body, padded", words({5, 1, 0, 0, 5, 3, 0x03000000, 0, 0xCAFE}), 0, 0},
        {"AUTH_NULL body then PROC_UNAVAIL", words({5, 1, 0, 0, 8, 0, 0, 3, 0xCAFE}), -7, 3},
        {"AUTH_NULL body longer than an opaque_auth", words({5, 1, 0, 0, 404, 0}), -99, 77},
        {"AUTH_NULL body past the reply's end", words({5, 1, 0, 0, 12, 0, 0}), -99, 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        presetStatusWords();
        receive(c.reply);
        EXPECT_EQ(ProcessRPCResponse(&op), c.result);
        EXPECT_EQ(op.acceptStat, c.acceptStat);
        if (c.result == 0) {
            uint32_t v = 0;
            ASSERT_EQ(mbufGetLong(&op.reply.data, &v), 0);
            EXPECT_EQ(v, 0xCAFEu);
            EXPECT_EQ(op.reply.data.count, 0u);
        }
    }
}

TEST_F(ReplyCheck, ProgMismatchLeavesTheVersionRangeInTheWindow) {
    receive(words({5, 1, 0, 0, 0, 2, 2, 4}));
    ASSERT_EQ(ProcessRPCResponse(&op), -6);
    uint32_t low = 0, high = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &low), 0);
    ASSERT_EQ(mbufGetLong(&op.reply.data, &high), 0);
    EXPECT_EQ(low, 2u);
    EXPECT_EQ(high, 4u);
}

// Every cut of well-formed replies is refused without reading past the bytes
// received: the reply is placed at the very end of an exactly sized buffer,
// so AddressSanitizer sees any read beyond it.
TEST_F(ReplyCheck, TruncatedRepliesAreNeverReadPastTheirEnd) {
    const std::vector<uint8_t> full[] = {
        words({5, 1, 0, 0, 0, 0}),                          // accepted, AUTH_NULL
        words({5, 1, 0, 6, 5, 0x11111111, 0x22000000, 0}),  // RPCSEC_GSS verifier
        words({5, 1, 0, 3, 12, 1, 2, 9, 0}),                // AUTH_DES verifier
        words({5, 1, 1, 1, 2}),                             // AUTH_ERROR
        words({5, 1, 1, 0, 2, 2}),                          // RPC_MISMATCH
    };
    uint8_t* const ownBlock = op.reply.block.pos;
    for (const auto& reply : full) {
        for (size_t cut = 0; cut < reply.size(); ++cut) {
            SCOPED_TRACE(::testing::Message() << "reply of " << reply.size() << " bytes cut to " << cut);
            std::vector<uint8_t> exact(reply.begin(), reply.begin() + static_cast<long>(cut));
            exact.shrink_to_fit();
            op.reply.block.pos = exact.empty() ? ownBlock : exact.data();
            op.reply.block.count = static_cast<uint32_t>(cut);
            op.reply.block.limit = static_cast<uint32_t>(cut);
            const int rc = ProcessRPCResponse(&op);
            // The RPCSEC_GSS verifier cut inside its padding still fails; only
            // a complete reply may succeed, and AUTH_DES/denials never do.
            EXPECT_NE(rc, 0);
            if (cut < 8) {
                EXPECT_EQ(rc, -99);
            }
        }
    }
    op.reply.block.pos = ownBlock;
    op.reply.block.limit = RPC_MBUF_SIZE;
}

TEST_F(ReplyCheck, VerifierLengthNearTwoToThe32IsRefused) {
    receive(words({5, 1, 0, 6, 0xFFFFFFFD, 0}));
    EXPECT_EQ(ProcessRPCResponse(&op), -99);
}

TEST_F(ReplyCheck, AReplyCountBeyondTheBlockIsBoundedByTheBlock) {
    receive(words({5, 1, 0, 0, 0, 0}));
    op.reply.block.count = 0xFFFFFFF0u;
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    EXPECT_EQ(op.reply.data.count, RPC_MBUF_SIZE - 24u);
}

TEST(ReplyCheckArguments, NullOperationOrNoReplyBlock) {
    EXPECT_EQ(ProcessRPCResponse(nullptr), -99);
    RpcOperation op{};
    EXPECT_EQ(ProcessRPCResponse(&op), -99);
}

class Driver : public ReplyCheck {
  protected:
    void SetUp() override {
        ReplyCheck::SetUp();
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.prog = 100003;
        op.vers = 3;
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        InitDataBuffer(&op.request);
        // A portmapper's successful answer left over in the reply block.
        receive(words({5, 1, 0, 0, 0, 0, 2049}));
        presetStatusWords();
    }
};

TEST_F(Driver, NoUsablePortMakesNoExchangeAndIgnoresTheOldReply) {
    op.hostAddr = 0x0100007F;
    struct Case { uint16_t tcp, udp; int call, program; };
    const Case cases[] = {
        {0, 0, -1, -2},
        {0xFFFF, 0, -2, -2},
        {0, 0xFFFF, -2, -2},
        {0xFFFF, 0xFFFF, -2, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.tcp << "/" << c.udp);
        op.tcpPort = c.tcp;
        op.udpPort = c.udp;
        EXPECT_EQ(CallRPC(&op, 0), c.call);
        EXPECT_EQ(rpcCallRPCProgram(&op, 0), c.program);
        EXPECT_EQ(op.acceptStat, 77u) << "the stale reply was checked";
    }
}

TEST_F(Driver, UnresolvedAddressNeverReachesTheNetwork) {
    op.tcpPort = 2049;
    for (uint32_t addr : {0u, 0xFFFFFFFFu}) {
        op.hostAddr = addr;
        EXPECT_EQ(rpcCallRPCProgram(&op, 0), -1);
        EXPECT_EQ(op.acceptStat, 77u);
    }
    // CallRPC itself does not look at the address; TCP refuses address 0.
    op.hostAddr = 0;
    EXPECT_EQ(CallRPC(&op, 0), 67);
    EXPECT_EQ(DoTCPRPCGram(&op), 67);
}

TEST_F(Driver, NullOperationAndUnpreparedRequest) {
    EXPECT_EQ(CallRPC(nullptr, 0), 1208);
    EXPECT_EQ(rpcCallRPCProgram(nullptr, 0), 1208);
    EXPECT_EQ(DoTCPRPCGram(nullptr), 1208);
    EXPECT_EQ(DoUDPRPCGram(nullptr, 0), 1208);
    // A request window that claims more than the block: nothing is sent.
    op.hostAddr = 0x0100007F;
    op.udpPort = 9;
    op.tcpPort = 9;
    op.request.data.count = RPC_MBUF_SIZE;
    EXPECT_EQ(DoUDPRPCGram(&op, 0), 87);
    EXPECT_EQ(DoTCPRPCGram(&op), 87);
}

TEST(PortmapQuestion, BuildPmapGetPortWritesFourWords) {
    uint8_t buf[64] = {};
    MbufCursor w{0, sizeof buf, buf};
    const mapping m{100005, 3, 17, 0};
    ASSERT_EQ(BuildPmapGetPort(&w, &m), 0);
    EXPECT_EQ(w.count, 16u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 16), words({100005, 3, 17, 0}));
    // Room for three words and the reserve: the last append's status.
    uint8_t small[16] = {};
    MbufCursor s{0, 16, small};
    EXPECT_EQ(BuildPmapGetPort(&s, &m), -2);
    EXPECT_EQ(BuildPmapGetPort(&w, nullptr), -1);
}

TEST(PortmapQuestion, PortmapperItselfNeedsNoQuestion) {
    RpcOperation op{};
    // An address nobody answers on: any traffic would fail the call.
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0x0100007F), 0);
    op.tcpPort = 5;
    op.udpPort = 6;
    EXPECT_EQ(GetProgramPort(&op, 100000, 2, 0), 0);
    EXPECT_EQ(op.tcpPort, 111);
    EXPECT_EQ(op.udpPort, 111);
    EXPECT_EQ(op.prog, 100000u);
    EXPECT_EQ(op.vers, 2u);
    rpcCloseOperation(&op);
}

TEST(PortmapQuestion, UnresolvableHostKeepsThePorts) {
    RpcOperation op{};
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0);  // no name, no address
    op.tcpPort = 5;
    op.udpPort = 6;
    EXPECT_EQ(GetProgramPort(&op, 100003, 3, 0), 111001);
    EXPECT_EQ(op.hostAddr, 0xFFFFFFFFu);
    EXPECT_EQ(op.tcpPort, 5);
    EXPECT_EQ(op.udpPort, 6);
    EXPECT_EQ(GetProgramPort(nullptr, 1, 1, 0), 1208);
    rpcCloseOperation(&op);
}

TEST(HostAddress, DottedAddressesNeedNoLookUp) {
    EXPECT_EQ(GetHostIP("10.1.2.3", 0), 0x0302010Au);
    EXPECT_EQ(GetHostIP("127.0.0.1", 0), 0x0100007Fu);
    EXPECT_EQ(GetHostIP(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(GetHostIP("", 0), 0xFFFFFFFFu);
}

TEST(ConnectMode, SetAsyncOperation) {
    RpcOperation op{};
    int flag = 0;
    auto* window = reinterpret_cast<RpcWindow>(0x1234);
    rpcSetAsyncOperation(&op, 1, window, &flag);
    EXPECT_EQ(op.flags, 1u);
    EXPECT_EQ(op.cancelFlag, &flag);
    EXPECT_EQ(op.asyncWindow, window);
    op.flags |= 0x10;  // bits the switch does not own stay
    rpcSetAsyncOperation(&op, 0, window, &flag);
    EXPECT_EQ(op.flags, 0x10u);
    EXPECT_EQ(op.cancelFlag, nullptr) << "the next connect cannot be cancelled";
    EXPECT_EQ(op.asyncWindow, window);
    rpcSetAsyncOperation(nullptr, 1, window, &flag);  // harmless
}

}  // namespace
