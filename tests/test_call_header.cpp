// SPDX-License-Identifier: MIT
// Call headers with AUTH_NULL and AUTH_UNIX, byte for byte, and the
// transaction-id counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "qelrpc.h"
#include "platform/heap.h"
#include "rpc/xid.h"

#ifndef _WIN32
#include <cstdio>
#include <cstdlib>

#include "child_process.h"
#endif

namespace {

uint32_t word(const uint8_t* p, size_t off) {
    return (uint32_t{p[off]} << 24) | (uint32_t{p[off + 1]} << 16) | (uint32_t{p[off + 2]} << 8) | p[off + 3];
}

std::vector<uint32_t> words(const RpcOperation& op) {
    std::vector<uint32_t> w;
    for (uint32_t off = 0; off < op.request.header.count; off += 4) w.push_back(word(op.request.block.pos, off));
    return w;
}

class Header : public ::testing::Test {
  protected:
    RpcOperation op{};
    void SetUp() override {
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu), 0);
        op.prog = 100003;
        op.vers = 3;
    }
    void TearDown() override { rpcCloseOperation(&op); }
};

TEST_F(Header, AuthNullIsFortyFourBytes) {
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    qelrpc::xid::setNext(77);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 6), 0);
    EXPECT_EQ(op.proc, 6u);
    EXPECT_EQ(op.request.header.pos, op.request.block.pos);
    EXPECT_EQ(words(op), (std::vector<uint32_t>{44, 77, 0, 2, 100003, 3, 6, 0, 0, 0, 0}));
}

TEST_F(Header, AuthUnixAbcIsSeventyTwoBytes) {
    ASSERT_EQ(rpcCreateAuthUnix(&op, "abc", 100, 200), 1);
    ASSERT_EQ(op.auth->flavor, 1u);
    ASSERT_EQ(op.auth->credLength, 28u);
    qelrpc::xid::setNext(9);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    ASSERT_EQ(op.request.header.count, 72u);
    const uint8_t* h = op.request.block.pos;
    const uint32_t stamp = static_cast<const AuthUnixCred*>(op.auth->body)->stamp;
    EXPECT_EQ(words(op), (std::vector<uint32_t>{72, 9, 0, 2, 100003, 3, 1, 1, 28, stamp, 3, 0x61626300, 100,
                                                200, 1, 200, 0, 0}));
    EXPECT_EQ(h[47], 0);  // the name's padding byte
}

TEST_F(Header, AuthUnixRecordAndStamp) {
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    ASSERT_EQ(rpcCreateAuthUnix(&op, "abc", 100, 200), 1);
    const auto* c = static_cast<const AuthUnixCred*>(op.auth->body);
    EXPECT_GE(c->stamp, before);
    EXPECT_LE(c->stamp, before + 5);
    EXPECT_STREQ(c->machineName, "abc");
    EXPECT_EQ(c->uid, 100u);
    EXPECT_EQ(c->gid, 200u);
    EXPECT_EQ(c->gidCount, 1u);
    EXPECT_EQ(c->gids[0], 200u);
    EXPECT_EQ(op.auth->verfFlavor, 0u);
    EXPECT_EQ(op.auth->verfLength, 0u);
}

TEST_F(Header, MachineNameLengthsAndPadding) {
    struct Case { const char* what; size_t nameLen; uint32_t credLength; uint32_t sentLen; };
    const Case cases[] = {
        {"4 characters: no padding", 4, 28, 4},
        {"5 characters: 3 padding bytes", 5, 32, 5},
        {"512 characters", 512, 536, 512},
        {"600 characters are cut to 512", 600, 536, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name(c.nameLen, 'n');
        for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i % 26);
        rpcCloseOperation(&op);
        ASSERT_EQ(rpcInitOperation(&op), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, name.c_str(), 7, 8), 1);
        EXPECT_EQ(op.auth->credLength, c.credLength);
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        const uint8_t* h = op.request.block.pos;
        EXPECT_EQ(op.request.header.count, 44u + c.credLength);
        EXPECT_EQ(word(h, 0), 44u + c.credLength);
        EXPECT_EQ(word(h, 40), c.sentLen);
        EXPECT_EQ(0, std::memcmp(h + 44, name.data(), c.sentLen));
        const uint32_t padded = (c.sentLen + 3) & ~3u;
        for (uint32_t i = c.sentLen; i < padded; ++i) EXPECT_EQ(h[44 + i], 0) << i;
        const size_t tail = 44 + padded;
        EXPECT_EQ(word(h, tail), 7u);
        EXPECT_EQ(word(h, tail + 4), 8u);
        EXPECT_EQ(word(h, tail + 8), 1u);
        EXPECT_EQ(word(h, tail + 12), 8u);
        EXPECT_EQ(word(h, tail + 16), 0u);  // verifier: AUTH_NULL, length 0
        EXPECT_EQ(word(h, tail + 20), 0u);
    }
}

TEST_F(Header, NullMachineNameUsesThisHost) {
    ASSERT_EQ(rpcCreateAuthUnix(&op, nullptr, 1, 1), 1);
    const auto* c = static_cast<const AuthUnixCred*>(op.auth->body);
    EXPECT_GT(std::strlen(c->machineName), 0u);
}

TEST_F(Header, XidWrapsToOneAndIsNeverZero) {
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    qelrpc::xid::setNext(4294967294u);
    std::vector<uint32_t> seen;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
        seen.push_back(word(op.request.block.pos, 4));
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{4294967294u, 4294967295u, 1u, 2u}));
}

#ifndef _WIN32
// A fresh process's first ids. When this program is started with
// QELRPC_TEST_XID_CHILD set, it writes the ids of its first two headers and
// ends before any test runs: each such start is a fresh load of the counter.
constexpr const char* kXidChildVariable = "QELRPC_TEST_XID_CHILD";
[[maybe_unused]] const bool kXidChild = [] {
    if (std::getenv(kXidChildVariable) == nullptr) return false;
    RpcOperation op{};
    uint32_t ids[2] = {0, 0};
    if (rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu) == 0 && rpcCreateAuthNull(&op) == 1) {
        for (uint32_t& id : ids)
            if (rpcPrepareRPCHeader(&op, 0) == 0) id = word(op.request.block.pos, 4);
    }
    rpcCloseOperation(&op);
    std::printf("%u %u\n", ids[0], ids[1]);
    std::fflush(stdout);
    std::_Exit(0);
}();

// Ids that started at the same value in every process would let anyone who
// can send a datagram guess which xid answers a call (a UDP reply is taken
// from any sender): each process starts somewhere else, and the counter then
// runs on by one, never through 0.
TEST(XidStart, FreshProcessesStartAtDifferentIds) {
    ASSERT_EQ(setenv(kXidChildVariable, "1", 1), 0);
    std::vector<uint32_t> firsts;
    for (int i = 0; i < 4; ++i) {
        testproc::Child child;
        ASSERT_TRUE(child.start({"/proc/self/exe"}));
        std::string line;
        ASSERT_TRUE(child.readLine(line, std::chrono::seconds(10))) << "child " << i;
        unsigned first = 0, second = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%u %u", &first, &second), 2) << line;
        EXPECT_NE(first, 0u);
        EXPECT_EQ(second, first == 0xFFFFFFFFu ? 1u : first + 1) << "the counter runs on by one";
        firsts.push_back(first);
    }
    unsetenv(kXidChildVariable);
    std::sort(firsts.begin(), firsts.end());
    std::string all;
    for (uint32_t f : firsts) all += " " + std::to_string(f);
    EXPECT_TRUE(std::adjacent_find(firsts.begin(), firsts.end()) == firsts.end())
        << "fresh processes started at the same xid; first xids:" << all;
}
#endif

TEST_F(Header, UnknownFlavorUsesAnXidAndWritesNoHeader) {
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    op.auth->flavor = 2;
    qelrpc::xid::setNext(500);
    EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 87);
    EXPECT_EQ(op.request.header.count, 0u);
    op.auth->flavor = 0;
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    EXPECT_EQ(word(op.request.block.pos, 4), 501u);
}

TEST_F(Header, MissingPiecesAreRefused) {
    EXPECT_EQ(rpcPrepareRPCHeader(nullptr, 0), -1);
    EXPECT_EQ(rpcPrepareRPCBroadcastHeader(nullptr, 1, 2, 3, 4), -1);
    // No credential attached.
    EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 1208);
    // No request block.
    RpcOperation bare{};
    ASSERT_EQ(rpcCreateAuthNull(&bare), 1);
    EXPECT_EQ(rpcPrepareRPCHeader(&bare, 0), -1);
    rpcCloseOperation(&bare);
}

TEST_F(Header, BroadcastHeaderIsUdpOnly) {
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    op.tcpPort = 2049;
    ASSERT_EQ(rpcPrepareRPCBroadcastHeader(&op, 100000, 2, 0, 111), 0);
    EXPECT_EQ(op.tcpPort, 0);
    EXPECT_EQ(op.udpPort, 111);
    EXPECT_EQ(op.protocol, 17);
    EXPECT_EQ(op.prog, 100000u);
    EXPECT_EQ(word(op.request.block.pos, 16), 100000u);
    EXPECT_EQ(word(op.request.block.pos, 20), 2u);
}

TEST_F(Header, CredentialMakersFailCleanly) {
    EXPECT_EQ(rpcCreateAuthNull(nullptr), 0);
    EXPECT_EQ(rpcCreateAuthUnix(nullptr, "x", 0, 0), 0);
    struct Case { const char* what; long successes; };
    for (const Case& c : {Case{"no RpcAuth", 0}, Case{"no AuthUnixCred", 1}}) {
        SCOPED_TRACE(c.what);
        qelrpc::heap::failAfter(c.successes);
        EXPECT_EQ(rpcCreateAuthUnix(&op, "abc", 1, 2), 0);
        qelrpc::heap::failAfter(-1);
        EXPECT_EQ(op.auth, nullptr);
    }
}

TEST_F(Header, FlavorsNotYetWritableReportInvalidParameter) {
    for (uint32_t flavor : {3u, 6u}) {
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.auth->flavor = flavor;
        EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 87);
        EXPECT_EQ(op.request.header.count, 0u);
        op.auth->flavor = 0;
        rpcCloseOperation(&op);
        ASSERT_EQ(rpcInitOperation(&op), 0);
    }
}

TEST_F(Header, SuccessiveCallsOnOneOperation) {
    ASSERT_EQ(rpcCreateAuthUnix(&op, "abc", 1, 2), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    InitDataBuffer(&op.request);
    ASSERT_EQ(mbufAddLong(&op.request.data, 42), 0);
    const uint32_t first = word(op.request.block.pos, 4);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 2), 0);
    InitDataBuffer(&op.request);
    EXPECT_EQ(op.request.data.count, 0u);
    EXPECT_NE(word(op.request.block.pos, 4), first);
    EXPECT_EQ(word(op.request.block.pos, 24), 2u);
}

}  // namespace
