// SPDX-License-Identifier: MIT
// The server side's check of incoming CALL headers and its reply headers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qelrpc.h"

namespace {

void put(std::vector<uint8_t>& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}

uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A call message as the record reader leaves it: no record mark, block.count
// the bytes received.
std::vector<uint8_t> call(uint32_t xid, uint32_t type, uint32_t rpcvers, uint32_t credLen, uint32_t verfLen,
                          uint32_t argWords) {
    std::vector<uint8_t> b;
    put(b, xid);
    put(b, type);
    put(b, rpcvers);
    put(b, 150001);
    put(b, 2);
    put(b, 13);
    put(b, 1);
    put(b, credLen);
    b.resize(b.size() + ((credLen + 3) & ~3u), 0xCC);
    put(b, 0);
    put(b, verfLen);
    b.resize(b.size() + ((verfLen + 3) & ~3u), 0xDD);
    for (uint32_t i = 0; i < argWords; ++i) put(b, 0xA0 + i);
    return b;
}

class Incoming : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override { ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0); }
    void TearDown() override { rpcCloseOperation(&op); }
    void receive(const std::vector<uint8_t>& bytes) {
        ASSERT_LE(bytes.size(), RPC_MBUF_SIZE);
        if (!bytes.empty()) std::memcpy(op.request.block.pos, bytes.data(), bytes.size());
        op.request.block.count = static_cast<uint32_t>(bytes.size());
    }
};

TEST_F(Incoming, AuthNullCallHasFortyByteHeader) {
    auto b = call(0x1234, 0, 2, 0, 0, 3);
    receive(b);
    uint32_t xid = 0;
    ASSERT_EQ(ProcessRPCCall(&op, &xid), 0);
    EXPECT_EQ(xid, 0x1234u);
    EXPECT_EQ(op.prog, 150001u);
    EXPECT_EQ(op.vers, 2u);
    EXPECT_EQ(op.proc, 13u);
    EXPECT_EQ(op.request.header.pos, op.request.block.pos);
    EXPECT_EQ(op.request.header.count, 40u);
    EXPECT_EQ(op.request.data.pos, op.request.block.pos + 40);
    EXPECT_EQ(op.request.data.count, b.size() - 40);
    uint32_t arg = 0;
    ASSERT_EQ(mbufGetLong(&op.request.data, &arg), 0);
    EXPECT_EQ(arg, 0xA0u);
}

TEST_F(Incoming, CredentialAndVerifierBodiesAreSkippedWithPadding) {
    struct Case { uint32_t credLen, verfLen, headerCount; };
    const Case cases[] = {
        // 32 fixed bytes, 8 of credential body, 8 of verifier words, 12 of verifier body.
        {5, 9, 32 + 8 + 8 + 12},
        // The server examines no credential or verifier, so it holds their
        // bodies only to the bytes received, not to opaque_auth's 400.
        {401, 1000, 32 + 404 + 8 + 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.credLen);
        receive(call(7, 0, 2, c.credLen, c.verfLen, 1));
        uint32_t xid = 0;
        ASSERT_EQ(ProcessRPCCall(&op, &xid), 0);
        EXPECT_EQ(op.request.header.count, c.headerCount);
        EXPECT_EQ(op.request.data.count, 4u);
        EXPECT_EQ(word(op.request.data.pos), 0xA0u);
    }
}

TEST_F(Incoming, RefusalsStillDeliverTheXid) {
    struct Case { const char* what; std::vector<uint8_t> bytes; int want; bool xidKnown; };
    auto truncated = [](std::vector<uint8_t> b, size_t n) { b.resize(n); return b; };
    const auto good = call(99, 0, 2, 8, 4, 0);
    const Case cases[] = {
        {"a REPLY, not a CALL", call(99, 1, 2, 0, 0, 0), -2, true},
        {"RPC version 3", call(99, 0, 3, 0, 0, 0), -3, true},
        {"nothing received", {}, -4, false},
        {"3 bytes", truncated(good, 3), -4, false},
        {"ends inside the fixed words", truncated(good, 20), -4, true},
        {"credential body beyond the bytes", truncated(good, 36), -4, true},
        {"verifier length word missing", truncated(good, 44), -4, true},
        {"verifier body beyond the bytes", truncated(good, 50), -4, true},
        {"credential length 0xFFFFFFFD", [] {
             std::vector<uint8_t> b;
             for (uint32_t w : {99u, 0u, 2u, 1u, 1u, 1u, 1u, 0xFFFFFFFDu}) put(b, w);
             b.resize(b.size() + 16);
             return b;
         }(), -4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(op.request.block.pos, 0, 64);
        receive(c.bytes);
        op.prog = op.vers = op.proc = 0;
        uint32_t xid = 0;
        EXPECT_EQ(ProcessRPCCall(&op, &xid), c.want);
        if (c.xidKnown) {
            EXPECT_EQ(xid, 99u);
        }
        EXPECT_EQ(op.prog, 0u);
        EXPECT_EQ(op.proc, 0u);
    }
}

TEST_F(Incoming, NullArguments) {
    uint32_t xid;
    EXPECT_EQ(ProcessRPCCall(nullptr, &xid), -1);
    EXPECT_EQ(ProcessRPCCall(&op, nullptr), -1);
    RpcOperation bare{};
    EXPECT_EQ(ProcessRPCCall(&bare, &xid), -1);
}

TEST_F(Incoming, ReadsStopAtTheReceivedBytesEvenWithAStaleBlock) {
    // The block holds a longer, well-formed call from before; only 20 bytes
    // of the new one were received.
    receive(call(1, 0, 2, 0, 0, 4));
    op.request.block.count = 20;
    uint32_t xid = 0;
    EXPECT_EQ(ProcessRPCCall(&op, &xid), -4);
}

class ReplyHeader : public Incoming {};

TEST_F(ReplyHeader, AcceptedSuccessIsTwentyEightBytes) {
    ASSERT_EQ(rpcCreateReplyHeader(&op, 0xCAFE, 0, nullptr), 0);
    EXPECT_EQ(op.reply.header.count, 28u);
    EXPECT_EQ(op.reply.header.pos, op.reply.block.pos);
    const uint8_t* p = op.reply.block.pos;
    const uint32_t want[] = {0, 0xCAFE, 1, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(word(p + 4 * i), want[i]) << i;
}

TEST_F(ReplyHeader, ProgMismatchCarriesTheVersionPair) {
    const uint32_t versions[] = {2, 3};
    ASSERT_EQ(rpcCreateReplyHeader(&op, 5, 2, versions), 0);
    EXPECT_EQ(op.reply.header.count, 36u);
    EXPECT_EQ(word(op.reply.block.pos + 28), 2u);
    EXPECT_EQ(word(op.reply.block.pos + 32), 3u);
    EXPECT_EQ(rpcCreateReplyHeader(&op, 5, 2, nullptr), -2);
    EXPECT_EQ(op.reply.header.count, 0u);
}

TEST_F(ReplyHeader, AnyAcceptStatusIsWrittenAsGiven) {
    for (uint32_t st : {1u, 3u, 4u, 5u, 6u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(st);
        ASSERT_EQ(rpcCreateReplyHeader(&op, 1, st, nullptr), 0);
        EXPECT_EQ(op.reply.header.count, 28u);
        EXPECT_EQ(word(op.reply.block.pos + 24), st);
    }
    EXPECT_EQ(rpcCreateReplyHeader(nullptr, 1, 0, nullptr), -1);
}

TEST_F(ReplyHeader, ResultsFollowTheHeader) {
    ASSERT_EQ(rpcCreateReplyHeader(&op, 1, 0, nullptr), 0);
    InitDataBuffer(&op.reply);
    ASSERT_EQ(mbufAddLong(&op.reply.data, 77), 0);
    EXPECT_EQ(word(op.reply.block.pos + 28), 77u);
}

}  // namespace
