// SPDX-License-Identifier: MIT
// Operation lifecycle: blocks, windows, borrowed blocks and release.
#include <gtest/gtest.h>

#include <cstring>

#include "qelrpc.h"
#include "platform/heap.h"

namespace {

bool allZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

struct HeapFailGuard {
    explicit HeapFailGuard(long successes) { qelrpc::heap::failAfter(successes); }
    ~HeapFailGuard() { qelrpc::heap::failAfter(-1); }
};

TEST(Operation, InitExGivesTwoZeroBlocksAndDefaults) {
    RpcOperation op;
    std::memset(&op, 0xA5, sizeof op);
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0);
    EXPECT_EQ(op.hostName, nullptr);
    EXPECT_EQ(op.hostAddr, 0u);
    for (const Mbuf* m : {&op.request, &op.reply}) {
        ASSERT_NE(m->block.pos, nullptr);
        EXPECT_EQ(m->block.count, 0u);
        EXPECT_EQ(m->block.limit, 65536u);
        EXPECT_TRUE(allZero(m->block.pos, 65536));
    }
    EXPECT_NE(op.request.block.pos, op.reply.block.pos);
    EXPECT_EQ(op.flags, 0u);
    EXPECT_EQ(op.timeOffset, 2147483647);
    EXPECT_EQ(op.auth, nullptr);
    EXPECT_EQ(op.cancelFlag, nullptr);
    EXPECT_EQ(op.asyncWindow, nullptr);
    rpcCloseOperation(&op);
}

TEST(Operation, InitExStoresNameAndAddress) {
    RpcOperation op;
    ASSERT_EQ(rpcInitOperationEx(&op, "server", 0x0100007Fu), 0);
    EXPECT_STREQ(op.hostName, "server");
    EXPECT_EQ(op.hostAddr, 0x0100007Fu);
    rpcCloseOperation(&op);
}

TEST(Operation, InitKeepsCallerFields) {
    RpcOperation op{};
    op.prog = 150001;
    op.tcpPort = 2049;
    op.hostName = "h";
    op.flags = 1;
    op.timeOffset = 5;
    ASSERT_EQ(rpcInitOperation(&op), 0);
    EXPECT_EQ(op.prog, 150001u);
    EXPECT_EQ(op.tcpPort, 2049);
    EXPECT_STREQ(op.hostName, "h");
    EXPECT_EQ(op.flags, 0u);
    EXPECT_EQ(op.timeOffset, 2147483647);
    rpcCloseOperation(&op);
}

TEST(Operation, NullRecords) {
    EXPECT_EQ(rpcInitOperation(nullptr), 1208);
    EXPECT_EQ(rpcInitOperationEx(nullptr, "x", 1), 1208);
    rpcCloseOperation(nullptr);
    InitRpcHeaderBuffer(nullptr);
    InitDataBuffer(nullptr);
    CopyRpcBuffer(nullptr, nullptr);
}

TEST(Operation, OutOfMemoryLeavesNoBlockHeld) {
    struct Case { const char* what; long successes; };
    const Case cases[] = {{"request block fails", 0}, {"reply block fails", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RpcOperation op{};
        {
            HeapFailGuard fail(c.successes);
            EXPECT_EQ(rpcInitOperation(&op), 8);
        }
        const Mbuf zero{};
        EXPECT_EQ(0, std::memcmp(&op.request, &zero, sizeof zero));
        EXPECT_EQ(0, std::memcmp(&op.reply, &zero, sizeof zero));
    }
    Mbuf m{};
    HeapFailGuard fail(0);
    EXPECT_EQ(rpcAllocateBuffer(&m), 8);
    EXPECT_EQ(m.block.pos, nullptr);
}

TEST(Operation, CloseReleasesBlocksAndCredentialAndIsRepeatable) {
    RpcOperation op;
    ASSERT_EQ(rpcInitOperationEx(&op, "h", 0x0100007Fu), 0);
    op.tcpPort = 111;
    op.acceptStat = 3;
    ASSERT_EQ(rpcCreateAuthUnix(&op, "abc", 1, 2), 1);
    rpcCloseOperation(&op);
    EXPECT_EQ(op.auth, nullptr);
    const Mbuf zero{};
    EXPECT_EQ(0, std::memcmp(&op.request, &zero, sizeof zero));
    EXPECT_EQ(0, std::memcmp(&op.reply, &zero, sizeof zero));
    EXPECT_EQ(op.tcpPort, 111);
    EXPECT_EQ(op.acceptStat, 3u);
    EXPECT_EQ(op.hostAddr, 0x0100007Fu);
    rpcCloseOperation(&op);  // second close finds nothing to release
    // A closed operation may be initialised again.
    ASSERT_EQ(rpcInitOperation(&op), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    rpcCloseOperation(&op);
    EXPECT_EQ(op.auth, nullptr);
}

TEST(Operation, DataWindowFollowsTheHeader) {
    RpcOperation op;
    ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    ASSERT_EQ(op.request.header.count, 44u);
    InitDataBuffer(&op.request);
    EXPECT_EQ(op.request.data.pos, op.request.block.pos + 44);
    EXPECT_EQ(op.request.data.count, 0u);
    EXPECT_EQ(op.request.data.limit, 65492u);
    rpcCloseOperation(&op);
}

TEST(Operation, CopyBorrowsTheBlockOnly) {
    RpcOperation owner;
    ASSERT_EQ(rpcInitOperationEx(&owner, nullptr, 0xFFFFFFFFu), 0);
    Mbuf borrower{};
    uint8_t marker = 0;
    borrower.header = MbufCursor{1, 2, &marker};
    borrower.data = MbufCursor{3, 4, &marker};
    CopyRpcBuffer(&owner.request, &borrower);
    EXPECT_EQ(borrower.block.pos, owner.request.block.pos);
    EXPECT_EQ(borrower.block.limit, 65536u);
    EXPECT_EQ(borrower.header.count, 1u);
    EXPECT_EQ(borrower.header.pos, &marker);
    EXPECT_EQ(borrower.data.limit, 4u);
    // The borrower writes through its own windows into the lender's block.
    InitRpcHeaderBuffer(&borrower);
    InitDataBuffer(&borrower);
    ASSERT_EQ(mbufAddLong(&borrower.data, 0x11223344), 0);
    EXPECT_EQ(owner.request.block.pos[0], 0x11);
    rpcCloseOperation(&owner);
}

}  // namespace
