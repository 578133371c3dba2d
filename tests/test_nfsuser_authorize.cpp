// SPDX-License-Identifier: MIT
// The authorisation messages without a network: both scramblings and the
// reply readers over bounded windows and through the exported bare-pointer
// forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_reply.h"
#include "qelrpc.h"
#ifndef QELRPC_TEST_SHARED_LIBRARY
#include "nfsuser/authorize_readers.h"
#include "nfsuser/scramble.h"

using namespace qelrpc::nfsuser;
#endif

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> ws) {
    std::vector<uint8_t> out;
    for (uint32_t w : ws)
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(w >> s));
    return out;
}

[[maybe_unused]] MbufCursor window(std::vector<uint8_t>& b) {
    static uint8_t none;
    return MbufCursor{static_cast<uint32_t>(b.size()), static_cast<uint32_t>(b.size()), b.empty() ? &none : b.data()};
}

// The scramblings and the bounded-window reader are the library's own:
// against the shared library only the exported bare-pointer forms run.
#ifndef QELRPC_TEST_SHARED_LIBRARY
TEST(Scramble, QelnfsdChainsEachByteWithThePreviousOutput) {
    uint8_t abc[] = {'a', 'b', 'c'};
    qelnfsdScramble(abc, 3);
    EXPECT_EQ(std::vector<uint8_t>(abc, abc + 3), (std::vector<uint8_t>{0x9E, 0xFC, 0x9F}));

    // Undoing the chain gives the text back (the daemons' side).
    uint8_t block[] = {0, 0, 'b', 'o', 'b', 0, 'b', 'u', 'i', 'l', 'd', 'e', 'r', 0};
    uint8_t sent[sizeof block];
    std::memcpy(sent, block, sizeof block);
    qelnfsdScramble(sent, sizeof sent);
    uint8_t prev = 0xFF;
    for (size_t i = 0; i < sizeof sent; ++i) {
        EXPECT_EQ(static_cast<uint8_t>(sent[i] ^ prev), block[i]) << i;
        prev = sent[i];
    }
}

TEST(Scramble, PcnfsdMasksEachByteAndABracketEndsTheText) {
    char out[16];
    pcnfsdScramble("abc", 3, out);
    EXPECT_EQ(std::string(out), std::string("\x3A\x39\x38"));
    // '[' is 0x5B: it scrambles to a zero byte, so the text sent ends there.
    pcnfsdScramble("ab[cd", 5, out);
    EXPECT_EQ(std::strlen(out), 2u);
    EXPECT_EQ(out[5], '\0');
    // The high bit is dropped.
    pcnfsdScramble("\xE1", 1, out);
    EXPECT_EQ(static_cast<uint8_t>(out[0]), 0x3A);
}

TEST(AuthorizeReader, Cases) {
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        int32_t capacity;
        int rc;  // with refused = 5
        int32_t uid, gid, groupCount;
        std::vector<int32_t> gids;  // capacity entries, then the guard
    };
    const Case cases[] = {
        {"accepted with two gids", words({0, 1001, 100, 2, 27, 1000}), 4, 0, 1001, 100, 2, {27, 1000, -1, -1}},
        {"accepted, count 0", words({0, 1002, 100, 0}), 3, 0, 1002, 100, 0, {-1, -1, -1}},
        {"refused", words({2, 0xFFFFFFFE, 0xFFFFFFFE, 0}), 2, 5, -1, -1, 2, {-1, -1}},
        {"more gids than room: the capacity is stored and reported", words({0, 7, 8, 3, 1, 2, 3}), 2, 0, 7, 8, 2,
         {1, 2}},
        {"capacity 0", words({0, 7, 8, 3, 1, 2, 3}), 0, 0, 7, 8, 0, {}},
        // Results that cannot be read are a protocol error, never a refusal
        // (a broken daemon must not look like a wrong password).
        {"gids cut short by the reply's end", words({0, 7, 8, 5, 1, 2}), 4, 1728, -1, -1, 4, {-1, -1, -1, -1}},
        {"count word missing", words({0, 7, 8}), 1, 1728, -1, -1, 1, {-1}},
        {"accepted, cut after its status word", words({0}), 1, 1728, -1, -1, 1, {-1}},
        {"empty reply", {}, 1, 1728, -1, -1, 1, {-1}},
        {"status word cut", {0, 0}, 1, 1728, -1, -1, 1, {-1}},
        {"refused needs nothing behind its status word", words({1}), 1, 5, -1, -1, 1, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> reply = c.reply;
        std::vector<int32_t> gids(static_cast<size_t>(c.capacity) + 1, 77);
        int32_t uid = 55, gid = 66, count = c.capacity;
        EXPECT_EQ(readAuthorizeResponse(window(reply), &uid, &gid, gids.data(), &count, kPcnfsdRefused), c.rc);
        EXPECT_EQ(uid, c.uid);
        EXPECT_EQ(gid, c.gid);
        EXPECT_EQ(count, c.groupCount);
        EXPECT_EQ(std::vector<int32_t>(gids.begin(), gids.begin() + c.capacity), c.gids);
        EXPECT_EQ(gids.back(), 77);  // nothing past the capacity
    }
}

#endif  // QELRPC_TEST_SHARED_LIBRARY

TEST(AuthorizeReader, ExportedFormsReadOnlyInsideTheLastReply) {
    // A reply block as CallRPC leaves it: the results start 8 bytes in.
    std::vector<uint8_t> bytes = words({0xAAAAAAAA, 0xBBBBBBBB, 0, 1001, 100, 1, 27});
    Mbuf reply{};
    reply.block = MbufCursor{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()), bytes.data()};
    lastreply::note(reply);
    int32_t uid = 0, gid = 0, gids[2] = {5, 5}, count = 2;
    EXPECT_EQ(BuildQelnfsdAuthorizeResponse(bytes.data() + 8, &uid, &gid, gids, &count), 0);
    EXPECT_EQ(uid, 1001);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(gids[0], 27);
    EXPECT_EQ(gids[1], -1);

    // The same words elsewhere in memory are not a received reply: nothing
    // can be read there, which is no refusal.
    std::vector<uint8_t> elsewhere = words({0, 1, 2, 0});
    count = 2;
    EXPECT_EQ(BuildQelnfsdAuthorizeResponse(elsewhere.data(), &uid, &gid, gids, &count), 1728);
    EXPECT_EQ(BuildPcnfsdAuthorizeResponse(elsewhere.data(), &uid, &gid, gids, &count), 1728);
    EXPECT_EQ(uid, -1);
    EXPECT_EQ(count, 2);

    // A refusal in the reply: -1 from the Qelnfsd reader, 5 from PCNFSD's.
    std::vector<uint8_t> refused = words({1, 0xFFFFFFFF, 0xFFFFFFFF, 0});
    reply.block.pos = refused.data();
    reply.block.count = reply.block.limit = static_cast<uint32_t>(refused.size());
    lastreply::note(reply);
    EXPECT_EQ(BuildQelnfsdAuthorizeResponse(refused.data(), &uid, &gid, gids, &count), -1);
    EXPECT_EQ(BuildPcnfsdAuthorizeResponse(refused.data(), &uid, &gid, gids, &count), 5);
    // Null outputs are tolerated.
    EXPECT_EQ(BuildPcnfsdAuthorizeResponse(refused.data(), nullptr, nullptr, nullptr, nullptr), 5);
}

}  // namespace
