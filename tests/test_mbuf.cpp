// SPDX-License-Identifier: MIT
// Message buffer word and string routines: wire bytes, the writers' 4-byte
// reserve, bounds, and refusals that leave the window unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qelrpc.h"

namespace {

// A window of `limit` bytes over a buffer of the test's own.
struct Window {
    std::vector<uint8_t> bytes;
    MbufCursor c{};
    explicit Window(uint32_t limit, uint32_t count = 0) : bytes(limit + 8, 0xEE) {
        c.count = count;
        c.limit = limit;
        c.pos = bytes.data();
    }
    // A reading window over given bytes.
    static Window reading(std::vector<uint8_t> in) {
        Window w(0);
        w.bytes = std::move(in);
        w.c.pos = w.bytes.data();
        w.c.count = static_cast<uint32_t>(w.bytes.size());
        w.c.limit = w.c.count;
        return w;
    }
};

bool same(const MbufCursor& a, const MbufCursor& b) {
    return a.count == b.count && a.limit == b.limit && a.pos == b.pos;
}

TEST(Mbuf, NullStreamOrBlockIsRefused) {
    MbufCursor noBlock{0, 100, nullptr};
    uint32_t v = 0;
    char s[8];
    EXPECT_EQ(mbufAddLong(nullptr, 1), -1);
    EXPECT_EQ(mbufAddLong(&noBlock, 1), -1);
    EXPECT_EQ(mbufGetLong(nullptr, &v), -1);
    EXPECT_EQ(mbufGetLong(&noBlock, &v), -1);
    EXPECT_EQ(mbufAddStringEx(&noBlock, "a", 1), -1);
    EXPECT_EQ(mbufAddString(nullptr, "a"), -1);
    EXPECT_EQ(mbufGetString(&noBlock, s, sizeof s), -1);
}

TEST(Mbuf, LongIsBigEndianAndRoundTrips) {
    Window w(64);
    ASSERT_EQ(mbufAddLong(&w.c, static_cast<int32_t>(0x01020304)), 0);
    ASSERT_EQ(mbufAddLong(&w.c, -2), 0);
    EXPECT_EQ(w.c.count, 8u);
    const uint8_t want[] = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(0, std::memcmp(w.bytes.data(), want, sizeof want));

    MbufCursor r{8, 8, w.bytes.data()};
    uint32_t a = 0, b = 0;
    ASSERT_EQ(mbufGetLong(&r, &a), 0);
    ASSERT_EQ(mbufGetLong(&r, &b), 0);
    EXPECT_EQ(a, 0x01020304u);
    EXPECT_EQ(b, 0xFFFFFFFEu);
    EXPECT_EQ(r.count, 0u);
}

TEST(Mbuf, WritersKeepFourBytesInReserve) {
    struct Case { const char* what; uint32_t count, limit; int want; };
    const Case cases[] = {
        {"exactly 8 bytes free", 92, 100, 0},
        {"7 bytes free", 93, 100, -2},
        {"count already at limit", 100, 100, -2},
        {"count beyond limit", 200, 100, -2},
        {"near 2^32, must not wrap", 0xFFFFFFF8u, 0xFFFFFFFFu, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w(0);
        w.bytes.assign(16, 0xAA);
        w.c = MbufCursor{c.count, c.limit, w.bytes.data()};
        const MbufCursor before = w.c;
        EXPECT_EQ(mbufAddLong(&w.c, 5), c.want);
        if (c.want != 0) {
            EXPECT_TRUE(same(before, w.c));
            EXPECT_EQ(w.bytes, std::vector<uint8_t>(16, 0xAA));
        }
    }
}

TEST(Mbuf, StringWireFormAndPadding) {
    struct Case { const char* what; std::string text; std::vector<uint8_t> wire; };
    const Case cases[] = {
        {"empty", "", {0, 0, 0, 0}},
        {"hello: 3 pad bytes", "hello", {0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0}},
        {"four: no padding", "abcd", {0, 0, 0, 4, 'a', 'b', 'c', 'd'}},
        {"embedded NUL", std::string("a\0b", 3), {0, 0, 0, 3, 'a', 0, 'b', 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w(64);
        ASSERT_EQ(mbufAddStringEx(&w.c, c.text.data(), static_cast<uint32_t>(c.text.size())), 0);
        EXPECT_EQ(w.c.count, c.wire.size());
        EXPECT_EQ(w.c.pos, w.bytes.data() + c.wire.size());
        EXPECT_EQ(std::vector<uint8_t>(w.bytes.begin(), w.bytes.begin() + c.wire.size()), c.wire);
    }
}

TEST(Mbuf, AddStringUsesTheTextUpToItsNul) {
    Window w(64);
    ASSERT_EQ(mbufAddString(&w.c, "hello"), 0);
    EXPECT_EQ(w.c.count, 12u);
    // The empty text needs 8 bytes of room: its word plus the reserve.
    Window tight(0);
    tight.bytes.assign(8, 0);
    tight.c = MbufCursor{0, 7, tight.bytes.data()};
    EXPECT_EQ(mbufAddString(&tight.c, ""), -2);
    tight.c.limit = 8;
    EXPECT_EQ(mbufAddString(&tight.c, ""), 0);
    EXPECT_EQ(tight.c.count, 4u);
    EXPECT_EQ(mbufAddString(&w.c, nullptr), -1);
}

TEST(Mbuf, StringWritesThatWouldWrapAreRefused) {
    Window w(64);
    const MbufCursor before = w.c;
    const char b[4] = {};
    // The padded length of 0xFFFFFFFD is 2^32: folded into 32 bits it would be 0.
    EXPECT_EQ(mbufAddStringEx(&w.c, b, 0xFFFFFFFDu), -2);
    EXPECT_EQ(mbufAddStringEx(&w.c, b, 0xFFFFFFFFu), -2);
    MbufCursor big{0, 0xFFFFFFFFu, w.bytes.data()};
    EXPECT_EQ(mbufAddStringEx(&big, b, 0xFFFFFFF8u), -2);
    EXPECT_TRUE(same(before, w.c));
    EXPECT_EQ(w.bytes[0], 0xEE);
}

TEST(Mbuf, StringExactFitAgainstReserve) {
    // "hello" takes 12 bytes; with the reserve it needs 16.
    Window w(16);
    ASSERT_EQ(mbufAddString(&w.c, "hello"), 0);
    Window w2(15);
    EXPECT_EQ(mbufAddString(&w2.c, "hello"), -2);
    EXPECT_EQ(w2.c.count, 0u);
}

TEST(Mbuf, GetStringReads) {
    auto w = Window::reading({0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0, 9});
    char s[6];
    std::memset(s, 'X', sizeof s);
    ASSERT_EQ(mbufGetString(&w.c, s, 6), 0);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(w.c.count, 4u);
    uint32_t v = 0;
    ASSERT_EQ(mbufGetLong(&w.c, &v), 0);
    EXPECT_EQ(v, 9u);
}

TEST(Mbuf, GetStringRefusals) {
    struct Case { const char* what; std::vector<uint8_t> in; uint32_t destSize; int want; };
    const Case cases[] = {
        {"dest exactly the length: needs one more", {0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0}, 5, 6},
        {"dest of 0", {0, 0, 0, 1, 'x', 0, 0, 0}, 0, 2},
        {"3 bytes left", {0, 0, 0}, 64, -2},
        {"padding missing", {0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o'}, 64, -2},
        {"length 0xFFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0xFFFFFFFFu, -2},
        {"length 0xFFFFFFFD pads to 2^32", {0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 0}, 16, -2},
        {"length beyond the window", {0, 0, 1, 0, 'a', 'b', 'c', 'd'}, 16, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto w = Window::reading(c.in);
        const MbufCursor before = w.c;
        char dest[64];
        std::memset(dest, 'Z', sizeof dest);
        EXPECT_EQ(mbufGetString(&w.c, dest, c.destSize), c.want);
        EXPECT_TRUE(same(before, w.c));
        EXPECT_EQ(dest[0], 'Z');
    }
}

TEST(Mbuf, GetStringEdgeForms) {
    auto empty = Window::reading({0, 0, 0, 0});
    char s[4] = {'Q', 'Q', 'Q', 'Q'};
    ASSERT_EQ(mbufGetString(&empty.c, s, 1), 0);
    EXPECT_EQ(s[0], '\0');
    EXPECT_EQ(empty.c.count, 0u);

    auto nul = Window::reading({0, 0, 0, 3, 'a', 0, 'b', 0});
    char t[4];
    ASSERT_EQ(mbufGetString(&nul.c, t, 4), 0);
    EXPECT_EQ(0, std::memcmp(t, "a\0b\0", 4));

    auto three = Window::reading({0, 0, 0});
    uint32_t v = 77;
    EXPECT_EQ(mbufGetLong(&three.c, &v), -2);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(three.c.count, 3u);
}

TEST(Mbuf, FreeReleasesAndClearsTwiceHarmlessly) {
    Mbuf m{};
    ASSERT_EQ(rpcAllocateBuffer(&m), 0);
    EXPECT_EQ(mbufFreeMbuf(&m), 0);
    const Mbuf zero{};
    EXPECT_EQ(0, std::memcmp(&m, &zero, sizeof m));
    EXPECT_EQ(mbufFreeMbuf(&m), 0);
    EXPECT_EQ(0, std::memcmp(&m, &zero, sizeof m));
    EXPECT_EQ(mbufFreeMbuf(nullptr), 0);
}

TEST(Mbuf, AFullBlockNeverFillsItsLastFourBytes) {
    Mbuf m{};
    ASSERT_EQ(rpcAllocateBuffer(&m), 0);
    InitRpcHeaderBuffer(&m);
    InitDataBuffer(&m);
    int written = 0;
    while (mbufAddLong(&m.data, -1) == 0) ++written;
    EXPECT_EQ(written, (RPC_MBUF_SIZE - 4) / 4);
    EXPECT_EQ(m.data.count, RPC_MBUF_SIZE - 4);
    const uint8_t* last = m.block.pos + RPC_MBUF_SIZE - 4;
    EXPECT_EQ(last[0] | last[1] | last[2] | last[3], 0);
    mbufFreeMbuf(&m);
}

}  // namespace
